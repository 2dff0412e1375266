// driver_test.cpp - switch parsing: conversion counts as sscanf gives them.

#include <gtest/gtest.h>

#include "driver/driver.h"

TEST(ScanSwitchTest, CountsConversionsLikeSscanf)
{
    int a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    EXPECT_EQ(ScanSwitch("-t:soften:1:8:1", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), 3);
    EXPECT_EQ(a * 100 + b * 10 + c, 181);
    EXPECT_EQ(ScanSwitch("-t:soften:1:8:1x", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), 3);
    EXPECT_EQ(ScanSwitch("-t:soften:1:8:1:", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), 3);
    EXPECT_EQ(ScanSwitch("-t:soften:1:8:1:x", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), 4);
    EXPECT_EQ(tail, 'x');
    EXPECT_EQ(ScanSwitch("-t:soften:1:x:1", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), 1);
    EXPECT_EQ(ScanSwitch("-t:soften:", "-t:soften:%d:%d:%d:%c", &a, &b, &c, &tail), -1);
    EXPECT_EQ(ScanSwitch("-i:RAW:512:512x", "-i:RAW:%d:%d:%d:%d%c", &a, &b, &c, &d, &tail), 2);
    EXPECT_EQ(ScanSwitch("-i:RAW:512:512:8:0x", "-i:RAW:%d:%d:%d:%d%c", &a, &b, &c, &d, &tail), 5);
    EXPECT_EQ(ScanSwitch("-i:RAW:512:512:8:", "-i:RAW:%d:%d:%d:%d%c", &a, &b, &c, &d, &tail), 3);
}

TEST(ScanSwitchTest, IntegersTakeSignAndLeadingBlanks)
{
    int a = 0;
    char tail;
    EXPECT_EQ(ScanSwitch("-t:noise: -7", "-t:noise:%d:%c", &a, &tail), 1);
    EXPECT_EQ(a, -7);
    EXPECT_EQ(ScanSwitch("-t:noise:+12", "-t:noise:%d:%c", &a, &tail), 1);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(ScanSwitch("-t:noise:- 7", "-t:noise:%d:%c", &a, &tail), 0);
    EXPECT_EQ(ScanSwitch("-t:noise:-2147483648", "-t:noise:%d:%c", &a, &tail), 1);
    EXPECT_EQ(a, -2147483648);
    // Out of the int range: a failed conversion rather than a wrapped value.
    EXPECT_EQ(ScanSwitch("-t:noise:2147483648", "-t:noise:%d:%c", &a, &tail), 0);
    EXPECT_EQ(ScanSwitch("-t:noise:4294967306", "-t:noise:%d:%c", &a, &tail), 0);
}

TEST(ScanSwitchTest, DoublesReadLikeStrtod)
{
    double deviation = 0;
    char tail;
    EXPECT_EQ(ScanSwitch("-t:wgnoise:0.5", "-t:wgnoise:%lg:%c", &deviation, &tail), 1);
    EXPECT_EQ(deviation, 0.5);
    EXPECT_EQ(ScanSwitch("-t:wgnoise:1e1:", "-t:wgnoise:%lg:%c", &deviation, &tail), 1);
    EXPECT_EQ(deviation, 10.0);
    EXPECT_EQ(ScanSwitch("-t:wgnoise:2:z", "-t:wgnoise:%lg:%c", &deviation, &tail), 2);
    EXPECT_EQ(ScanSwitch("-t:wgnoise:abc", "-t:wgnoise:%lg:%c", &deviation, &tail), 0);
}
