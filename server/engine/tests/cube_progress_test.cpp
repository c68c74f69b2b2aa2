#include "engine/CubeProgress.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zs::engine;

namespace {

struct RecordingHost : CubeProgressHost {
    std::vector<int> pointers;
    int yields = 0;
    void setMousePointer(int p) override { pointers.push_back(p); }
    double textHeightTwips(const std::string&) override { return 240; }
    void yield() override { ++yields; }
};

TEST(CubeProgressTest, CentresTheBoxAndDrawsFrameIconAndText)
{
    RecordingHost host;
    CubeProgress notice(host);
    notice.MostraAvanzamento(9000, 6000, "Attendere ...", 21);
    EXPECT_TRUE(notice.visible());
    EXPECT_DOUBLE_EQ(notice.left(), 1875);
    EXPECT_DOUBLE_EQ(notice.top(), 2625);
    const auto& d = notice.drawing();
    EXPECT_DOUBLE_EQ(d.frameRight, 5235);
    EXPECT_DOUBLE_EQ(d.frameBottom, 735);
    EXPECT_EQ(d.icon, 21);
    EXPECT_DOUBLE_EQ(d.textX, 600);
    EXPECT_DOUBLE_EQ(d.textY, (750 - 240) / 2.0);
    EXPECT_EQ(host.pointers, std::vector<int>{11});
    EXPECT_EQ(host.yields, 1);
}

TEST(CubeProgressTest, NoIconForZeroAndASecondShowReplacesTheText)
{
    RecordingHost host;
    CubeProgress notice(host);
    notice.MostraAvanzamento(9000, 6000, "Attendere ...", 0);
    EXPECT_EQ(notice.drawing().icon, 0);
    notice.MostraAvanzamento(9000, 6000, "Aggiornamento dati Olap in corso...", -3);
    EXPECT_EQ(notice.drawing().text, "Aggiornamento dati Olap in corso...");
    EXPECT_EQ(notice.drawing().icon, 0);
    EXPECT_EQ(notice.drawCount(), 2);
}

TEST(CubeProgressTest, HidingRestoresTheDefaultPointer)
{
    RecordingHost host;
    CubeProgress notice(host);
    notice.MostraAvanzamento(9000, 6000, "Attendere ...", 21);
    notice.NascondiAvanzamento();
    EXPECT_FALSE(notice.visible());
    EXPECT_EQ(host.pointers.back(), 0);
    EXPECT_EQ(host.yields, 2);
}

} // namespace
