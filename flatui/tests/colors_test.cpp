#include "automation/ClassRegistry.h"
#include "flatui/core/Colors.h"
#include "flatui/core/Tavolex.h"

#include <gtest/gtest.h>

using namespace zs::flatui;

TEST(Colors, ChannelsAndBlend)
{
    EXPECT_EQ(GetRed(0x123456), 0x56);
    EXPECT_EQ(GetGreen(0x123456), 0x34);
    EXPECT_EQ(GetBlue(0x123456), 0x12);
    EXPECT_EQ(BlendColors(0xFFFFFF, 0, 0.5), 0x808080u); // 127.5 rounds to 128
    EXPECT_EQ(BlendColors(0xFFFFFF, 0x123456, 0.0), 0x123456u);
    EXPECT_EQ(BlendColors(0xABCDEF, 0x123456, 1.0), 0xABCDEFu);
    EXPECT_EQ(BlendColors(0x000001, 0x000000, 0.5), 0u); // 0.5 rounds to even
    EXPECT_EQ(BlendColors(0x000003, 0x000000, 0.5), 2u); // 1.5 rounds to even
}

TEST(Colors, BlendValueAndTwips)
{
    EXPECT_EQ(blendValue(180), 11796480);
    EXPECT_EQ(blendValue(180), 0xB40000);
    EXPECT_EQ(alphaOf(0x800000), 128);
    EXPECT_EQ(pxRound(2340), 156);
    EXPECT_EQ(pxRound(22.5), 2); // 1.5 px
    EXPECT_EQ(pxRound(37.5), 2); // 2.5 px, halves to even
    EXPECT_EQ(pxRound(52.5), 4); // 3.5 px
}

TEST(Registry, EveryClassByProgIdAndClsid)
{
    zs::automation::ClassRegistry reg;
    registerClasses(reg);
    for (const auto* id : {&kFlatButtonId, &kFlatGridControlId, &kFlatTabControlId, &kMenuButtonControlId,
                           &kSplashControlId, &kToolTipControlId}) {
        SCOPED_TRACE(std::string(id->name));
        const auto* info = reg.byProgId("Tavolex." + std::string(id->name));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->clsid, id->clsid);
        EXPECT_EQ(info->defaultInterface, "_" + std::string(id->name));
        EXPECT_EQ(info->eventInterface, "__" + std::string(id->name));
        auto obj = reg.create(id->clsid);
        ASSERT_NE(obj, nullptr);
        EXPECT_EQ(obj->dispatchTable().className(), id->name);
    }
}
