// The tool's output as users see it, spelled out independently of the product code.
#pragma once

#include <string>

#include <gtest/gtest.h>

extern const char kUsage[];
extern const char kRefusedNodeLine[];

std::string Summary(const std::string& target, const std::string& command_line, int node);

// Checks that `output` opens with the banner and a build stamp of the right form, and hands back
// what follows them.
testing::AssertionResult AfterBannerAndStamp(const std::string& output, std::string& rest);
