// SPDX-License-Identifier: ISC
// filemap against real files: what reaches the callback, what reaches
// standard error, and that nothing of the file outlives the call.
#include "skelda.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// A fresh directory for one test, removed with its contents afterwards.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string t = (fs::temp_directory_path() / "skelda-XXXXXX").string();
    if (!mkdtemp(t.data()))
      throw std::runtime_error("mkdtemp failed");
    dir = t;
  }
  ~Scratch() { fs::remove_all(dir); }
};

std::set<int> open_fds() {
  std::set<int> fds;
  DIR *d = opendir("/proc/self/fd");
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(d))
      fds.insert(atoi(e->d_name));
  closedir(d);
  return fds;
}

// Permissions of the mapping of the file st that holds addr (any mapping
// of it when addr is null), or "" when the file is not mapped.
std::string mapping_of(const struct stat &st, const void *addr = nullptr) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long lo, hi, off, ino;
    unsigned maj, mnr;
    char perms[8];
    if (sscanf(line.c_str(), "%lx-%lx %7s %lx %x:%x %lu", &lo, &hi, perms,
               &off, &maj, &mnr, &ino) == 7 &&
        ino == st.st_ino && maj == major(st.st_dev) &&
        mnr == minor(st.st_dev) &&
        (!addr || (lo <= (unsigned long)addr && (unsigned long)addr < hi)))
      return perms;
  }
  return "";
}

// Byte i of a test file: every value turns up, NUL and line feed included.
// A sparse file holds it only in its first and last page.
char byte_at(off_t i, off_t size, bool sparse) {
  bool hole = sparse && i >= 4096 && i < size - 4096;
  return hole ? 0 : static_cast<char>((i * 131 + 7) % 256);
}

void make_file(const fs::path &p, off_t size, bool sparse) {
  std::ofstream out(p, std::ios::binary);
  for (off_t i = 0; i < size; i++) {
    if (sparse && i == 4096)
      out.seekp(i = size - 4096);
    out.put(byte_at(i, size, sparse));
  }
}

struct Seen {
  off_t size = 0;
  bool sparse = false;
  int calls = 0;
  const char *path = nullptr;
  size_t length = 0;
  void *user = nullptr;
  bool bytes_ok = false;
  std::string perms;
};

void record(const char *data, size_t length, const char *path, void *user) {
  Seen *s = static_cast<Seen *>(user);
  s->calls++;
  s->length = length, s->path = path, s->user = user;
  // Every byte of the first and last 64 KiB; in between, a sample that
  // does not pull gigabytes of a sparse file into the page cache.
  const off_t n = length, edge = 1 << 16;
  s->bytes_ok = n > 0;
  for (off_t i = 0; i < n; i++) {
    if (i == edge && n > 2 * edge)
      i = n - edge;
    s->bytes_ok &= data[i] == byte_at(i, s->size, s->sparse);
  }
  for (off_t i = edge; i < n - edge; i += (1 << 26) + 1)
    s->bytes_ok &= data[i] == byte_at(i, s->size, s->sparse);
  struct stat st;
  if (stat(path, &st) == 0)
    s->perms = mapping_of(st, data);
}

struct Outcome {
  int result;
  std::string err;
};

// Calls filemap with standard error diverted into a temporary file.
Outcome call(const char *path, Seen *seen, filemap_callback callback = record) {
  FILE *f = tmpfile();
  fflush(stderr);
  int saved = dup(2);
  dup2(fileno(f), 2);
  int result = filemap(path, callback, seen);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string err;
  rewind(f);
  for (int c; (c = getc(f)) != EOF;)
    err += static_cast<char>(c);
  fclose(f);
  return {result, err};
}

std::string msg(const fs::path &p, int err) {
  return p.string() + ": " + strerror(err) + "\n";
}

TEST(Filemap, RefusesWhatItCannotMapWithOneMessageAndNothingLeftBehind) {
  Scratch s;
  std::ofstream(s.dir / "empty").close();
  make_file(s.dir / "file", 10, false);
  ASSERT_EQ(mkfifo((s.dir / "fifo").c_str(), 0600), 0);
  const std::string file = (s.dir / "file").string();
  struct Case {
    const char *what;
    fs::path path;
    std::string err;
    bool null_path = false;
    filemap_callback callback = record;
  } cases[] = {
      {"a missing path", s.dir / "missing", msg(s.dir / "missing", ENOENT)},
      {"a directory", s.dir, s.dir.string() + ": not a regular file\n"},
      {"a device", "/dev/null", "/dev/null: not a regular file\n"},
      // Turned away at once rather than waiting in open() for a writer.
      {"a FIFO without a writer", s.dir / "fifo",
       (s.dir / "fifo").string() + ": not a regular file\n"},
      {"an empty file", s.dir / "empty", msg(s.dir / "empty", EINVAL)},
      {"a null path", "", "filemap: Invalid argument\n", true},
      {"a null callback", file, "filemap: Invalid argument\n", false, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::set<int> before = open_fds();
    Seen seen;
    Outcome o = call(c.null_path ? nullptr : c.path.c_str(), &seen, c.callback);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(open_fds(), before);
    struct stat st;
    if (stat(c.path.c_str(), &st) == 0) {
      EXPECT_EQ(mapping_of(st), "");
    }
  }
}

TEST(Filemap, HandsEachRegularFileOnceReadOnlyAndReleasesIt) {
  Scratch s;
  const off_t page = sysconf(_SC_PAGESIZE);
  struct Case {
    const char *what;
    off_t size;
    bool sparse, via_link;
  } cases[] = {
      {"one byte", 1, false, false},
      {"exactly one page", page, false, false},
      {"one page and a byte", page + 1, false, false},
      {"a symbolic link to a file", 3 * page + 5, false, true},
      {"a sparse file past 4 GiB", (off_t{5} << 30) + 1, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::path file = s.dir / std::to_string(c.size), path = file;
    make_file(file, c.size, c.sparse);
    if (c.via_link)
      fs::create_symlink(file, path = s.dir / "link");
    std::set<int> before = open_fds();
    Seen seen;
    seen.size = c.size, seen.sparse = c.sparse;
    std::string p = path.string();
    Outcome o = call(p.c_str(), &seen);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.length, static_cast<size_t>(c.size));
    EXPECT_EQ(seen.path, p.c_str());
    EXPECT_EQ(seen.user, &seen);
    EXPECT_TRUE(seen.bytes_ok);
    EXPECT_EQ(seen.perms, "r--p");  // the file itself, read-only, private
    EXPECT_EQ(open_fds(), before);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(mapping_of(st), "");
  }
}

TEST(SkeldaObject, ExportsFilemapAndNothingElse) {
  FILE *nm = popen("'" NM_PATH "' -g --defined-only '" SKELDA_OBJECT_PATH "'",
                    "r");
  ASSERT_NE(nm, nullptr);
  std::vector<std::string> names;
  char addr[64], type[8], name[256];
  while (fscanf(nm, "%63s %7s %255s", addr, type, name) == 3)
    names.push_back(name);
  EXPECT_EQ(pclose(nm), 0);
  EXPECT_EQ(names, std::vector<std::string>{"filemap"});
}

}  // namespace
