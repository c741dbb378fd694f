#include "platform/linux/store/JsonUserDefaults.h"

#include "platform/linux/files/SmallFile.h"
#include "platform/sim/SimScheduler.h"
#include "tests/platform/linux/TempDir.h"

#include <algorithm>
#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::readText;
using testing::writeText;

// Every write renames a new file into place.
ino_t inode(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class JsonUserDefaultsTest : public ::testing::Test {
protected:
    std::unique_ptr<JsonUserDefaults> open() {
        return std::make_unique<JsonUserDefaults>(file, scheduler);
    }
    json onDisk() const { return json::parse(readText(file)); }

    testing::TempDir dir;
    std::filesystem::path file = dir.path() / "config" / "varnu" / "defaults.json";
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
};

TEST_F(JsonUserDefaultsTest, ValuesKeepTheirTypesAndUnknownKeysSurviveARestart) {
    writeText(file, R"({"ratio": 2.5, "whole real": 3.0, "huge": 18446744073709551615,
                        "window": {"x": 10, "tags": ["a", null]}})");
    {
        auto store = open();
        store->setInteger("step", 8);
        store->setInteger("volume.big", INT64_MIN);
        store->setBool("showHUD", false);
        store->setString("stepText", "5");
        EXPECT_TRUE(store->flush());
    }
    auto store = open();
    EXPECT_EQ(store->object("step"), DefaultsValue(std::int64_t{8}));
    EXPECT_EQ(store->object("volume.big"), DefaultsValue(std::int64_t{INT64_MIN}));
    EXPECT_EQ(store->object("showHUD"), DefaultsValue(false));
    // A text stays a text: it is no integer, and no text is read from an integer.
    EXPECT_EQ(integerValue(store->object("stepText").value()), std::nullopt);
    EXPECT_EQ(store->string("stepText"), "5");
    EXPECT_EQ(store->string("step"), std::nullopt);
    EXPECT_EQ(boolValue(*store->object("step")), std::nullopt);
    // Reals and values written by someone else stay as they were.
    EXPECT_EQ(store->object("ratio"), DefaultsValue(2.5));
    EXPECT_EQ(store->object("whole real"), DefaultsValue(3.0));
    EXPECT_EQ(store->object("huge"), DefaultsValue(18446744073709551615.0));
    EXPECT_EQ(store->object("window"),
              DefaultsValue(DefaultsOtherValue{R"({"tags":["a",null],"x":10})"}));
    EXPECT_EQ(store->object("missing"), std::nullopt);
    EXPECT_TRUE(onDisk()["whole real"].is_number_float());
    EXPECT_EQ(onDisk()["window"], json::parse(R"({"x": 10, "tags": ["a", null]})"));
}

TEST_F(JsonUserDefaultsTest, ABurstOfChangesIsWrittenAtMostOncePerSecond) {
    auto store = open();
    // A held key: a new level every 100 ms for 2.5 s.
    std::map<int, std::int64_t> writtenAt;
    for (int tick = 0; tick < 25; ++tick) {
        store->setInteger("volume.screen", tick);
        scheduler->advance(100ms);
        const auto level =
            std::filesystem::exists(file) ? onDisk()["volume.screen"].get<int>() : -1;
        if (level >= 0 && (writtenAt.empty() || writtenAt.rbegin()->second != level)) {
            writtenAt[tick] = level;
        }
    }
    // Written at 1 s and 2 s, each time with the level of that moment.
    EXPECT_EQ(writtenAt, (std::map<int, std::int64_t>{{9, 9}, {19, 19}}));

    // The rest goes out at once on flush, and only once.
    store->setInteger("volume.screen", 77);
    EXPECT_TRUE(store->flush());
    EXPECT_EQ(onDisk()["volume.screen"], 77);
    const auto written = inode(file);
    scheduler->advance(2s);
    EXPECT_EQ(inode(file), written) << "nothing left to write";

    // Quitting with a change pending still saves it.
    store->setBool("showHUD", true);
    store.reset();
    EXPECT_EQ(onDisk()["showHUD"], true);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1)
        << "no temporary file left";
}

TEST_F(JsonUserDefaultsTest, AnUnparsableFileIsMovedAsideAndTheDefaultsApply) {
    // Long texts by their start and size, so that a failure does not print a megabyte.
    const auto shown = [](const std::string& text) {
        return text.size() <= 64 ? text : text.substr(0, 16) + "... " + std::to_string(text.size());
    };
    const auto corruptCopies = [&] {
        std::vector<std::string> texts;
        for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
            if (entry.path().filename().string().starts_with("defaults.json.corrupt-")) {
                texts.push_back(shown(readText(entry.path())));
            }
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    };
    const auto nested = [](std::size_t depth) {
        return R"({"step": 4, "other": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    const auto padded = [](std::size_t size) {
        std::string text = R"({"step": 4})";
        return text + std::string(size - text.size(), ' ');
    };
    // Valid JSON that is not an object is no settings file either, nor is nesting far deeper
    // than any settings file has (at a depth of 100 000, saving it would take gigabytes and
    // describing it the whole stack), nor a file over 1 MiB. An earlier copy is never
    // overwritten, even within the same second.
    std::vector<std::string> movedAside;
    for (const auto& unusable : {std::string("{\"step\": 4,"), std::string("[1, 2]"), nested(1000),
                                 padded(kLargestSmallFile + 1)}) {
        writeText(file, unusable);
        auto store = open();
        EXPECT_EQ(store->object("step"), std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(file)) << "moved, not copied";
        movedAside.push_back(shown(unusable));
        std::sort(movedAside.begin(), movedAside.end());
        EXPECT_EQ(corruptCopies(), movedAside);
        store->setInteger("step", 6);
        ASSERT_TRUE(store->flush());
        EXPECT_EQ(onDisk(), json::parse(R"({"step": 6})"));
    }
    // Nesting as deep as other programs' settings plausibly go is kept, and so is 1 MiB.
    for (const auto& usable : {nested(32), padded(kLargestSmallFile)}) {
        writeText(file, usable);
        EXPECT_EQ(open()->object("step"), DefaultsValue(std::int64_t{4}));
    }
    EXPECT_EQ(corruptCopies().size(), 4u);
}

TEST(DefaultsFilePath, FollowsAnAbsoluteXDGConfigHomeElseHome) {
    for (const auto& [configHome, expected] :
         std::map<std::string, std::string>{{"/cfg", "/cfg/varnu/defaults.json"},
                                            {"rel", "/home/u/.config/varnu/defaults.json"},
                                            {"", "/home/u/.config/varnu/defaults.json"}}) {
        const Environment environment = [&](const std::string& name) -> std::optional<std::string> {
            return name == "HOME" ? "/home/u" : configHome;
        };
        EXPECT_EQ(defaultsFilePath(environment), expected) << configHome;
    }
}

} // namespace
} // namespace varnu::linux_backend
