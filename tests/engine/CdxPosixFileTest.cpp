// The index file device reads through a mapping that reserves more than the file holds. These
// cases check that reads never see stale bytes or reach past the end, whoever changed the file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <memory>

#include "CdxPosixFile.h"
#include "CdxTypes.h"
#include "TestUtil.h"

namespace xb {
namespace {

using Page = std::array<uint8_t, kCdxPageSize>;

Page Filled(uint8_t b) {
  Page p;
  p.fill(b);
  return p;
}

class CdxPosixFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("T.CDX");
    ASSERT_TRUE(CdxPosixFile::Create(path_, &file_).ok());
  }
  Page ReadPage(uint64_t offset, Status* status) {
    Page p{};
    *status = file_->ReadAt(offset, p.data(), p.size());
    return p;
  }

  xbtest::TempDir dir_;
  std::string path_;
  std::unique_ptr<CdxBlockDevice> file_;
};

TEST_F(CdxPosixFileTest, ReadsSeeEveryWriteAndStopAtTheEnd) {
  EXPECT_TRUE(file_->MappedReads());
  const Page a = Filled(0xA1), b = Filled(0xB2);
  ASSERT_TRUE(file_->WriteAt(0, a.data(), a.size()).ok());
  Status s;
  EXPECT_EQ(ReadPage(0, &s), a);
  EXPECT_TRUE(s.ok());
  // Overwritten after it was read: the next read has the new bytes.
  ASSERT_TRUE(file_->WriteAt(0, b.data(), b.size()).ok());
  EXPECT_EQ(ReadPage(0, &s), b);

  // Past the end is a clear failure, not a fault, though the mapping reaches that far.
  ReadPage(kCdxPageSize, &s);
  EXPECT_EQ(s.code(), Status::kCorrupt);

  // Cut back to nothing: the page that was there is gone for reads as well.
  ASSERT_TRUE(file_->Truncate(0).ok());
  ReadPage(0, &s);
  EXPECT_EQ(s.code(), Status::kCorrupt);
  uint64_t size = 1;
  ASSERT_TRUE(file_->Size(&size).ok());
  EXPECT_EQ(size, 0u);
}

TEST_F(CdxPosixFileTest, PagesAddedByAnotherProgramOrFarPastTheMappingAreRead) {
  const Page a = Filled(0x11), c = Filled(0x33);
  ASSERT_TRUE(file_->WriteAt(0, a.data(), a.size()).ok());
  Status s;
  ReadPage(0, &s);
  ASSERT_TRUE(s.ok());

  // Another program appends a page through its own descriptor.
  const int other = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::pwrite(other, c.data(), c.size(), kCdxPageSize), static_cast<ssize_t>(c.size()));
  ::close(other);
  EXPECT_EQ(ReadPage(kCdxPageSize, &s), c);
  EXPECT_TRUE(s.ok());

  // A page far beyond the address space first reserved (a sparse file keeps this cheap): the
  // mapping has to be made again, and the earlier pages still read right.
  const uint64_t far = uint64_t{200} << 20;
  const Page d = Filled(0x44);
  ASSERT_TRUE(file_->WriteAt(far, d.data(), d.size()).ok());
  EXPECT_EQ(ReadPage(far, &s), d);
  EXPECT_TRUE(s.ok());
  EXPECT_EQ(ReadPage(0, &s), a);
  EXPECT_EQ(ReadPage(far - kCdxPageSize, &s), Page{});
}

}  // namespace
}  // namespace xb
