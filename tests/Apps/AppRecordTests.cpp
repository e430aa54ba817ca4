#include <gtest/gtest.h>

#include "Apps/AppRecord.h"

namespace tarvel {
namespace {

TEST(AppRecordJSON, AbsentValuesAreLeftOutAndMembersKeepTheirOrder) {
    AppRecord bare{.name = "Calculator", .running = true};
    EXPECT_EQ(toJSON(bare).dump(), R"({"name":"Calculator","running":true,"launchable":false})");

    AppRecord full{.name = "Café \"Ünïcode\" \\",
                   .bundleId = "com.example.Cafe",
                   .path = "/Applications/Café.app",
                   .icon = "data:image/png;base64,AAAA",
                   .running = false,
                   .launchable = true};
    EXPECT_EQ(toJSON(full).dump(-1, ' ', false),
              "{\"name\":\"Café \\\"Ünïcode\\\" \\\\\",\"bundleId\":\"com.example.Cafe\",\"path\":\"/Applications/Café.app\","
              "\"icon\":\"data:image/png;base64,AAAA\",\"running\":false,\"launchable\":true}");
}

TEST(AppRecordJSON, EmptyPayloadHasThreeArraysAndNoHelperPath) {
    EXPECT_EQ(encodeJSON(AppInventoryPayload{}), std::optional<std::string>(R"({"running":[],"installed":[],"shortcuts":[]})"));

    AppInventoryPayload payload;
    payload.shortcuts = {"B", "A"};
    payload.helperPath = "/opt/tarvel/bin/tarvel-focus";
    EXPECT_EQ(encodeJSON(payload),
              std::optional<std::string>(R"({"running":[],"installed":[],"shortcuts":["B","A"],"helperPath":"/opt/tarvel/bin/tarvel-focus"})"));
}

} // namespace
} // namespace tarvel
