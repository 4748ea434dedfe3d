#include "driver/as_run_record.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tarnel::test {
namespace {

TEST(AsRunRecordTest, IsOneJsonLineWithItsFieldsInOrder) {
    AsRunRecord record;
    record.start = {1796983200, 123456789};  // 2026-12-11T10:00:00.123Z
    record.end = {1796983220, 4000000};
    record.entry = "media/news.nsv";
    record.title = "News \"at ten\"";
    record.seconds = 20;
    record.bytes = 5000000000ULL;
    record.ended = ItemEnd::kSkippedByRequest;
    record.queued = true;
    EXPECT_EQ(as_run_line(record),
              R"({"start":"2026-12-11T10:00:00.123Z","end":"2026-12-11T10:00:20.004Z",)"
              R"("entry":"media/news.nsv","title":"News \"at ten\"","seconds":20,)"
              R"("bytes":5000000000,"ended":"skipped by request","queued":true})"
              "\n");
}

TEST(AsRunRecordTest, NamesEveryEndAndReplacesBytesThatAreNotUtf8) {
    const std::pair<ItemEnd, const char*> ends[] = {
        {ItemEnd::kPlayed, "played"},
        {ItemEnd::kSkippedBySignal, "skipped by signal"},
        {ItemEnd::kSkippedByRequest, "skipped by request"},
        {ItemEnd::kConnectionLost, "connection lost"},
        {ItemEnd::kOversizedSecond, "oversized second"},
        {ItemEnd::kNotOpened, "could not be opened"},
    };
    for (const auto& [end, name] : ends) {
        AsRunRecord record;
        record.ended = end;
        record.title = "caf\xe9";
        const std::string line = as_run_line(record);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        const nlohmann::json parsed = nlohmann::json::parse(line);
        EXPECT_EQ(parsed["ended"], name);
        EXPECT_EQ(parsed["title"], "caf\xef\xbf\xbd");
        EXPECT_EQ(parsed["start"], "1970-01-01T00:00:00.000Z");
    }
}

}  // namespace
}  // namespace tarnel::test
