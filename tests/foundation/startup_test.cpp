#include "foundation/startup.h"

#include <gtest/gtest.h>

#include <memory>

#include "foundation/file_utils.h"
#include "foundation/test_support.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

const bool posix = platform::path_separator == '/';
const std::string question =
    "Generate \"historic\" workbook component to be able to load old configurations "
    "(version<3.20) including workbook data?";

// The per-user folder lies in a scratch folder on POSIX ($XDG_DATA_HOME); Windows names the
// roaming folder of the user itself, so there the test uses it and removes what it made.
class Workbook : public ::testing::Test {
  protected:
    void SetUp() override {
        if (posix)
            data_home =
                std::make_unique<test::scoped_environment>("XDG_DATA_HOME", scratch.folder());
        user_folder = join_path(user_app_data_folder(), program_base_name());
        made_user_folder = !platform::folder_exists(user_folder);
        ensure_folder(user_folder);
        user_ini = user_data_path("vcf132.ini");
        program_ini = program_file_path("vcf132.ini");
        if (platform::file_exists(program_ini) || platform::file_exists(user_ini))
            GTEST_SKIP() << "a vcf132.ini of someone else is in the way";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(platform::to_fs_path(program_ini), ignored);
        std::filesystem::remove(platform::to_fs_path(user_ini), ignored);
        if (made_user_folder)
            std::filesystem::remove_all(platform::to_fs_path(user_folder), ignored);
    }
    // Reads the options with an answer function that records the questions.
    void read_options(bool answer) {
        asked.clear();
        read_workbook_options([this, answer](const std::string& text, const std::string& caption) {
            asked.push_back(caption + "|" + text);
            return answer;
        });
    }

    test::scratch_folder scratch;
    std::unique_ptr<test::scoped_environment> data_home;
    std::string user_folder;
    bool made_user_folder = false;
    std::string user_ini;
    std::string program_ini;
    std::vector<std::string> asked;
};

TEST_F(Workbook, OptionsAndQuestion) {
    const std::vector<std::string> one_question{"Optional setting|" + question};
    struct row {
        const char* name;
        const char* ini;  // nullptr: no file
        bool answer;
        bool asked;
        bool never_use;
        bool ask_for;
    };
    const row rows[] = {
        {"no file", nullptr, true, false, false, false},
        {"empty file", "", true, false, false, false},
        {"ask, answered Yes", "ask for f1book\r\ntrue\r\n", true, true, false, true},
        {"ask, answered No", "ask for f1book\r\ntrue\r\n", false, true, true, true},
        {"never use wins", "never use f1book\r\nTrue\r\nask for f1book\r\nTRUE", true, false, true,
         true},
        {"never use alone", "Never Use F1book\nTRUE", true, false, true, false},
        {"blank before true", "ask for f1book\r\n true\r\n", true, false, false, false},
        {"ask false", "never use f1book\r\nfalse\r\nask for f1book\r\nno", false, false, false,
         false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.ini) test::write_file(user_ini, r.ini);
        never_use_workbook = ask_for_workbook = true;  // both are reset first
        read_options(r.answer);
        EXPECT_EQ(asked, r.asked ? one_question : std::vector<std::string>{});
        EXPECT_EQ(never_use_workbook, r.never_use);
        EXPECT_EQ(ask_for_workbook, r.ask_for);
    }
}

TEST_F(Workbook, PerUserFileHidesTheOneBesideTheProgram) {
    test::write_file(program_ini, "ask for f1book\r\ntrue\r\n");
    test::write_file(user_ini, "ask for f1book\r\nfalse\r\n");
    std::string found;
    ASSERT_TRUE(find_workbook_ini(found));
    EXPECT_EQ(found, user_ini);
    read_options(false);
    EXPECT_TRUE(asked.empty());

    std::filesystem::remove(platform::to_fs_path(user_ini));
    std::filesystem::create_directory(platform::to_fs_path(user_ini));  // a folder does not count
    ASSERT_TRUE(find_workbook_ini(found));
    EXPECT_EQ(found, program_ini);
    read_options(false);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(never_use_workbook);
    std::filesystem::remove(platform::to_fs_path(user_ini));

    std::filesystem::remove(platform::to_fs_path(program_ini));
    found = "unchanged";
    EXPECT_FALSE(find_workbook_ini(found));
    EXPECT_EQ(found, "unchanged");
}

TEST_F(Workbook, StartupMakesFoldersAndRunsOnce) {
    if (made_user_folder) std::filesystem::remove(platform::to_fs_path(user_folder));
    // A fresh account has no data folder yet (~/.local/share): it is made with the levels
    // above the per-user folder.
    std::unique_ptr<test::scoped_environment> fresh_account;
    if (posix) {
        fresh_account = std::make_unique<test::scoped_environment>(
            "XDG_DATA_HOME", scratch / (std::string("local") + platform::path_separator + "share"));
        user_folder = join_path(user_app_data_folder(), program_base_name());
    }
    test::write_file(program_ini, "ask for f1book\r\ntrue\r\n");
    int questions = 0;
    const yes_no_question ask = [&](const std::string&, const std::string&) {
        ++questions;
        return true;
    };
    process_startup(ask);
    EXPECT_TRUE(platform::folder_exists(user_folder));
    EXPECT_TRUE(platform::folder_exists(join_path(user_folder, "downloads")));
    EXPECT_TRUE(platform::folder_exists(join_path(user_folder, "uploads")));
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(never_use_workbook);

    process_startup(ask);  // a second start-up does nothing
    EXPECT_EQ(questions, 1);
    process_shutdown();
}

}  // namespace
}  // namespace kelvad
