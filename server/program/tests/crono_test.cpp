#include "program/Crono.h"

#include "time/Clock.h"

#include <gtest/gtest.h>

TEST(Crono, MeasuresSecondsAndRestarts)
{
    zs::time::FakeClock clock;
    zs::program::Crono crono(clock);
    crono.AvviaCrono();
    EXPECT_DOUBLE_EQ(crono.TempoTrascorso(), 0.0);
    clock.advanceMs(1234);
    EXPECT_DOUBLE_EQ(crono.TempoTrascorso(), 1.234);
    clock.advanceMs(1000);
    EXPECT_DOUBLE_EQ(crono.TempoTrascorso(), 2.234); // each call moves the stop mark
    crono.AvviaCrono();
    clock.advanceMs(10);
    EXPECT_DOUBLE_EQ(crono.TempoTrascorso(), 0.010);
}

TEST(Crono, SurvivesTheCounterWrapping)
{
    zs::time::FakeClock clock;
    clock.setTickMs(0xFFFFFFFFLL - 499); // 500 ms before the 32-bit counter wraps to 0
    zs::program::Crono crono(clock);
    crono.AvviaCrono();
    clock.advanceMs(1500);
    EXPECT_DOUBLE_EQ(crono.TempoTrascorso(), 1.5);
}
