// A file held open by a writer is not free: the file system refuses to rename it.

#include <gtest/gtest.h>

#include <fstream>

#include "foundation/file_utils.h"
#include "foundation/test_support.h"

namespace kelvad {
namespace {

TEST(IsFileFreeWin32, FileHeldOpenForWritingIsNotFree) {
    test::scratch_folder folder;
    const std::string file = folder / "ONGQR_1.csv";
    test::write_file(file, "half written");
    {
        std::ofstream own(platform::to_fs_path(file), std::ios::app);
        ASSERT_TRUE(own.is_open());
        EXPECT_FALSE(is_file_free(file));
    }
    EXPECT_TRUE(is_file_free(file));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"ONGQR_1.csv"});
    EXPECT_EQ(test::read_file(file), "half written");
}

}  // namespace
}  // namespace kelvad
