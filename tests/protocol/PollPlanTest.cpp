#include "protocol/PollPlan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Requests as "station/function/start+count", in the plan's order.
std::string Plan(std::vector<PollPoint> points) {
    std::string text;
    for (const PollRead& read : PollPlan::PlanReads(points))
        text += std::to_string(read.station) + "/" + std::to_string(read.function) + "/" +
                std::to_string(read.start) + "+" + std::to_string(read.count) + " ";
    return text;
}

// Merging stops at the function's limit, the widest hole, another station or function.
TEST(PollPlan, ReadsMergedWithinTheRules) {
    const struct {
        const char* name;
        std::vector<PollPoint> points;
        std::string reads;
    } rows[] = {
        {"HoleOfFour", {{1, 3, 10, 2}, {1, 3, 0, 1}, {1, 3, 5, 1}}, "1/3/0+12 "},
        {"HoleOfFive", {{1, 3, 0, 1}, {1, 3, 6, 1}}, "1/3/0+1 1/3/6+1 "},
        {"Overlapping", {{1, 3, 0, 4}, {1, 3, 2, 2}, {1, 3, 1, 1}}, "1/3/0+4 "},
        {"LimitOf125",
         {{1, 3, 0, 60}, {1, 3, 60, 60}, {1, 3, 120, 5}, {1, 3, 125, 1}},
         "1/3/0+125 1/3/125+1 "},
        {"BitsHoleOf32", {{1, 1, 0, 1}, {1, 1, 33, 1}, {1, 1, 70, 1}}, "1/1/0+34 1/1/70+1 "},
        {"BitsLimitOf2000",
         {{1, 2, 0, 1000}, {1, 2, 1000, 1000}, {1, 2, 2000, 1}},
         "1/2/0+2000 1/2/2000+1 "},
        {"StationsAndFunctions",
         {{2, 3, 0, 1}, {1, 4, 0, 1}, {1, 3, 1, 1}},
         "1/3/1+1 1/4/0+1 2/3/0+1 "},
        {"NotReadable", {{0, 3, 0, 1}, {1, 5, 0, 1}, {1, 3, 65535, 2}, {1, 3, 0, 126}}, ""},
        {"LastAddress", {{1, 3, 65534, 2}}, "1/3/65534+2 "},
    };
    for (const auto& row : rows) EXPECT_EQ(Plan(row.points), row.reads) << row.name;
}

// A reply that does not fit its request, or whose count lies, gives no values.
TEST(PollPlan, RepliesThatDoNotFit) {
    const PollRead read{1, 3, 0, 2, {0}};
    const std::vector<uint8_t> request = PollPlan::ReadRequest(read);
    const struct {
        const char* name;
        std::vector<uint8_t> reply;
        PollPlan::Outcome outcome;
    } rows[] = {
        {"Good", {1, 3, 4, 0, 1, 0, 2, 0, 0}, PollPlan::Outcome::Good},
        {"CountLies", {1, 3, 6, 0, 1, 0, 2, 0, 0}, PollPlan::Outcome::Unfit},
        {"OtherStation", {2, 3, 4, 0, 1, 0, 2, 0, 0}, PollPlan::Outcome::Unfit},
        {"Exception", {1, 0x83, 2, 0, 0}, PollPlan::Outcome::Exception},
    };
    for (const auto& row : rows) {
        const PollPlan::Answer answer = PollPlan::ReadAnswer(request, row.reply, true);
        EXPECT_EQ(answer.outcome, row.outcome) << row.name;
        if (answer.outcome == PollPlan::Outcome::Good) {
            EXPECT_EQ(answer.values, (std::vector<uint16_t>{1, 2}));
        }
    }
}

}  // namespace
