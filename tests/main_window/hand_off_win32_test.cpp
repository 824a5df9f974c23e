// The hand-off under the faults of a Windows machine: a writer in another process, whatever
// sharing it allows, and names that Windows cannot open.

#include <windows.h>

#include <algorithm>

#include "orvel_fixture.h"

#include "support/file_holder_win32.h"

namespace kelvad {
namespace {

class hand_off_win32 : public orvel_fixture {
  protected:
    int count_of(const std::string& line) const {
        return static_cast<int>(std::count(messages().begin(), messages().end(), line));
    }
};

TEST_F(hand_off_win32, a_writer_in_another_process_is_waited_for_whatever_it_shares) {
    // With deletion shared, the rename test passes while the writer writes; only the open that
    // denies write sharing sees it.
    for (const wchar_t* mode : {L"", L"full"}) {
        SCOPED_TRACE(mode[0] == 0 ? "read and write shared" : "everything shared");
        const std::string text = traverse(2, 3, "TRV_W");
        const std::string path = drop("ONGQR_w.csv", text);
        test::holder_process writer(path, mode, KELVAD_FILE_HOLDER);
        ASSERT_TRUE(writer.ready());
        start();
        window->waiting_report_after_ms = 0;
        for (int i = 0; i < 3; ++i) tick();
        EXPECT_EQ(testing::read_file(path), text);
        EXPECT_FALSE(testing::file_exists(scan_file("TRV_W")));
        EXPECT_FALSE(testing::folder_exists(failed_folder()));
        EXPECT_EQ(
            count_of("waiting: " + input + sep + sep + "ONGQR_w.csv is open in another program"),
            1);

        ASSERT_TRUE(writer.end());
        tick();
        EXPECT_TRUE(testing::file_exists(scan_file("TRV_W")));
        EXPECT_FALSE(testing::file_exists(path));
        testing::remove_tree(measurement_folder("Production", "BE"));
        testing::make_folders(measurement_folder("Production", "BE"));
    }
}

TEST_F(hand_off_win32, names_windows_cannot_open_do_not_hold_back_the_next) {
    // Written from another system, a name may end in a dot or a blank; Windows drops those
    // when it opens a plain path. Made here through the long form, which keeps them.
    for (const char* name : {"ONGQR_a.csv.", "ONGQR_a.csv "}) {
        SCOPED_TRACE(name);
        const std::wstring raw =
            L"\\\\?\\" + platform::to_fs_path(input + sep + std::string(name)).wstring();
        const HANDLE file = CreateFileW(raw.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, "x", 1, &written, nullptr);
        CloseHandle(file);
        const std::string good = drop("ONGQR_b.csv", traverse(1, 2, "TRV_B"));
        start();
        for (int i = 0; i < 3; ++i) tick();
        EXPECT_FALSE(testing::file_exists(good)) << "the file behind it was taken";
        EXPECT_TRUE(testing::file_exists(scan_file("TRV_B")));
        DeleteFileW(raw.c_str());
        testing::remove_tree(failed_folder());
    }
}

}  // namespace
}  // namespace kelvad
