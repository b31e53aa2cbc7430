#include "platform/system/FileDescriptor.hpp"

#include "platform/system/MemoryMapping.hpp"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TempDir.hpp"

namespace platform {
namespace {

bool isOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(FileDescriptorTest, ClosesWhenDestroyedOrResetAndMovesOwnership) {
  mqtest::TempDir dir;
  const auto path = dir.write("file.txt", "x");
  int raw = -1;
  {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file.isOpen());
    raw = file.get();
    FileDescriptor moved(std::move(file));
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(moved.get(), raw);
    EXPECT_TRUE(isOpenDescriptor(raw));
  }
  EXPECT_FALSE(isOpenDescriptor(raw));

  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  raw = file.get();
  file.reset();
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(isOpenDescriptor(raw));

  FileDescriptor kept(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  raw = kept.release();
  EXPECT_TRUE(isOpenDescriptor(raw));
  ::close(raw);
}

TEST(WriteAllTest, WritesEveryByteAndNamesThePathWhenAWriteFails) {
  mqtest::TempDir dir;
  const auto path = dir / "out.bin";
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 31 % 251);
  }
  {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(file.isOpen());
    writeAll(file.get(), bytes, path);
  }
  EXPECT_EQ(mqtest::TempDir::read(path), bytes);

  FileDescriptor readOnly(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  try {
    writeAll(readOnly.get(), "more", path);
    ADD_FAILURE() << "a write to a read-only descriptor succeeded";
  } catch (const std::system_error &error) {
    EXPECT_EQ(error.code().value(), EBADF);
    EXPECT_NE(std::string(error.what()).find("cannot write " + path.string()), std::string::npos)
        << error.what();
  }
}

TEST(MemoryMappingTest, UnmapsWhenDestroyedAndMovesOwnership) {
  const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void *address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(address, MAP_FAILED);
  // msync fails with ENOMEM on memory that is not mapped.
  auto mapped = [&] { return ::msync(address, size, MS_ASYNC) == 0; };
  {
    MemoryMapping mapping(address, size);
    MemoryMapping moved(std::move(mapping));
    EXPECT_FALSE(mapping.isMapped());
    EXPECT_EQ(moved.data(), static_cast<const std::uint8_t *>(address));
    EXPECT_EQ(moved.size(), size);
    EXPECT_TRUE(mapped());
  }
  EXPECT_FALSE(mapped());
}

} // namespace
} // namespace platform
