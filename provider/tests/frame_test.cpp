// The reader-facing frame: metadata, fixed methods, messages and the copy
// helpers, with guard bytes after every buffer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "oes_api.h"
#include "oes_helpers.h"
#include "oes_messages.h"

namespace {

constexpr unsigned char kGuard = 0xAA;

// A buffer of size bytes followed by guard bytes.
struct Guarded {
  explicit Guarded(size_t size) : size(size), bytes(size + 8, kGuard) {}
  unsigned char* data() { return bytes.data(); }
  std::string text(size_t n) const { return std::string(bytes.begin(), bytes.begin() + n); }
  bool guardIntact() const {
    for (size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != kGuard) return false;
    return true;
  }
  bool untouched() const { return bytes == std::vector<unsigned char>(bytes.size(), kGuard); }
  size_t size;
  std::vector<unsigned char> bytes;
};

TEST(ProviderInfo, MeasuringCallGivesTheFourLengths) {
  int n = -1, c = -1, v = -1, e = -1;
  EXPECT_EQ(OES_GetProviderInfo(nullptr, &n, nullptr, &c, nullptr, &v, nullptr, &e), 0);
  EXPECT_EQ(n, 8);
  EXPECT_EQ(c, 11);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(e, 15);
}

TEST(ProviderInfo, AnyMissingLengthIsRefusedWithoutWriting) {
  for (int missing = 0; missing < 4; ++missing) {
    Guarded b[4] = {Guarded(20), Guarded(20), Guarded(20), Guarded(20)};
    int len[4] = {20, 20, 20, 20};
    int* p[4] = {&len[0], &len[1], &len[2], &len[3]};
    p[missing] = nullptr;
    EXPECT_EQ(OES_GetProviderInfo(b[0].data(), p[0], b[1].data(), p[1], b[2].data(), p[2],
                                  b[3].data(), p[3]),
              4371);
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(b[i].untouched()) << missing << " " << i;
      EXPECT_EQ(len[i], 20);
    }
  }
}

TEST(ProviderInfo, CopiesIntoBuffersOfEveryCallerSize) {
  const std::string texts[4] = {"DOVEL_SM", "DOVELSEALCO", "V 1.0", "DOVEL.2018.12.1"};
  // Incoming length: 0 (not given) and room for the terminator get the
  // terminator; exactly the text length gets the text alone.
  for (int extra : {-1, 0, 1, 50}) {
    Guarded b[4] = {Guarded(8 + (extra > 0 ? extra : 1)), Guarded(11 + (extra > 0 ? extra : 1)),
                    Guarded(5 + (extra > 0 ? extra : 1)), Guarded(15 + (extra > 0 ? extra : 1))};
    int len[4];
    for (int i = 0; i < 4; ++i) len[i] = extra < 0 ? 0 : int(texts[i].size()) + extra;
    ASSERT_EQ(OES_GetProviderInfo(b[0].data(), &len[0], b[1].data(), &len[1], b[2].data(), &len[2],
                                  b[3].data(), &len[3]),
              0);
    for (int i = 0; i < 4; ++i) {
      const size_t n = texts[i].size();
      EXPECT_EQ(len[i], int(n));
      EXPECT_EQ(b[i].text(n), texts[i]);
      EXPECT_EQ(b[i].bytes[n], extra == 0 ? kGuard : 0) << "extra " << extra << " item " << i;
      EXPECT_TRUE(b[i].guardIntact());
    }
  }
}

TEST(ProviderInfo, TooSmallBufferIsRefusedAndLengthsReported) {
  Guarded b[4] = {Guarded(20), Guarded(3), Guarded(20), Guarded(20)};
  int len[4] = {20, 3, 20, 20};
  EXPECT_EQ(OES_GetProviderInfo(b[0].data(), &len[0], b[1].data(), &len[1], b[2].data(), &len[2],
                                b[3].data(), &len[3]),
            4371);
  for (auto& buffer : b) EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(len[0], 8);
  EXPECT_EQ(len[1], 11);
  EXPECT_EQ(len[2], 5);
  EXPECT_EQ(len[3], 15);
}

TEST(FixedMethods, WriteTheIdentifierWithinTheCallersBuffer) {
  using Fn = int (*)(unsigned char*, int*);
  struct Method {
    Fn fn;
    std::string text;
  } methods[] = {{OES_GetSignMethod, "1.2.156.10197.1.501"},
                 {OES_GetDigestMethod, "1.2.156.10197.1.401"}};
  struct Case {
    int incoming;  // -100: measuring call without buffer
    int result;
    bool terminator;
    bool written;
  } cases[] = {{-100, 0, false, false}, {0, 0, true, true},   {-3, 0, true, true},
               {20, 0, true, true},     {19, 0, false, true}, {18, 4371, false, false},
               {1, 4371, false, false}, {4096, 0, true, true}};
  for (const auto& m : methods) {
    for (const auto& c : cases) {
      Guarded b(c.incoming > 19 ? 20 : 19);
      int length = c.incoming;
      int rc = m.fn(c.incoming == -100 ? nullptr : b.data(), &length);
      EXPECT_EQ(rc, c.result) << m.text << " incoming " << c.incoming;
      EXPECT_EQ(length, 19);
      if (c.written) {
        EXPECT_EQ(b.text(19), m.text);
        EXPECT_EQ(b.bytes[19], c.terminator ? 0 : kGuard) << c.incoming;
      } else {
        EXPECT_TRUE(b.untouched());
      }
      if (b.size == 19 && !c.terminator) {
        EXPECT_TRUE(b.guardIntact());
      }
    }
    EXPECT_EQ(m.fn(nullptr, nullptr), 4371);
  }
}

TEST(ErrMessage, EveryListedCodeHasItsTextAndOthersAreUnknown) {
  const uint64_t listed[] = {16,   4370, 4371, 4373, 4374, 4375, 4376, 4377, 4378, 4379,
                             4380, 4381, 4382, 4383, 4384, 4386, 4387, 4388, 4389, 4390,
                             4391, 4392, 4393, 4394, 4396, 4397, 4398, 4399, 4400, 4401,
                             4402, 4403, 4404, 4405, 4406, 4407, 4408, 4410, 4411, 4419};
  ASSERT_EQ(std::size(varo::oes::kMessages), std::size(listed));
  for (uint64_t code : listed) {
    int length = 0;
    ASSERT_EQ(OES_GetErrMessage(code, nullptr, &length), 0);
    std::vector<unsigned char> text(length);
    ASSERT_EQ(OES_GetErrMessage(code, text.data(), &length), 0);
    EXPECT_NE(std::string(text.begin(), text.end()), varo::oes::kUnknownMessage) << code;
  }
  const uint64_t unlisted[] = {0,
                               1,
                               2,
                               3,
                               4,
                               15,
                               17,
                               4369,
                               4372,
                               4385,
                               4395,
                               4409,
                               4412,
                               4415,
                               4418,
                               4420,
                               99999,
                               (1ULL << 32) + 4371,
                               (1ULL << 32) + 16,
                               ~0ULL};
  for (uint64_t code : unlisted) {
    Guarded b(21);
    int length = 21;
    ASSERT_EQ(OES_GetErrMessage(static_cast<unsigned long>(code), b.data(), &length), 0);
    EXPECT_EQ(length, 21) << code;
    EXPECT_EQ(b.text(21), "未知的错误类型") << code;
    EXPECT_TRUE(b.guardIntact());
  }
}

TEST(ErrMessage, SpotTextsAndBufferSizes) {
  struct Case {
    unsigned long code;
    int incoming;
    bool withBuffer;
    int lengthAfter;
    std::string written;
  } cases[] = {
      {4371, 0, false, 15, ""},
      {4371, 10, true, 10, ""},  // too small: untouched, still success
      {4371, 15, true, 15, "错误的参数"},
      {16, 64, true, 12, "操作取消"},
      {4410, 64, true, 33, "签章客户端是否未启动？"},
      {4383, 64, true, 31, "USBKEY的PIN码长度不小于5"},
  };
  for (const auto& c : cases) {
    Guarded b(c.incoming > 0 ? size_t(c.incoming) : 1);
    int length = c.incoming;
    EXPECT_EQ(OES_GetErrMessage(c.code, c.withBuffer ? b.data() : nullptr, &length), 0);
    EXPECT_EQ(length, c.lengthAfter) << c.code;
    if (c.written.empty())
      EXPECT_TRUE(b.untouched()) << c.code;
    else
      EXPECT_EQ(b.text(c.written.size()), c.written);
    EXPECT_TRUE(b.guardIntact());
  }
  EXPECT_EQ(OES_GetErrMessage(4371, nullptr, nullptr), 4371);
}

TEST(CopyHelpers, CopyToExIsCheckedAndCopiesExactly) {
  const unsigned char data[5] = {1, 2, 3, 4, 5};
  struct Case {
    bool withBuffer;
    int incoming;
    int n;
    int result;
    int lengthAfter;
    bool written;
  } cases[] = {
      {false, 0, 5, 1, 5, false},  {true, 5, 5, 1, 5, true},  {true, 4, 5, 0, 4, false},
      {true, -1, 5, 0, -1, false}, {true, 9, 0, 1, 0, false}, {true, 9, -2, 0, 9, false},
  };
  for (const auto& c : cases) {
    Guarded b(5);
    int length = c.incoming;
    EXPECT_EQ(CopyToEx(data, c.n, c.withBuffer ? b.data() : nullptr, &length), c.result);
    EXPECT_EQ(length, c.lengthAfter);
    if (c.written)
      EXPECT_EQ(b.text(5), std::string("\1\2\3\4\5"));
    else
      EXPECT_TRUE(b.untouched());
    EXPECT_TRUE(b.guardIntact());
  }
  EXPECT_EQ(CopyToEx(data, 5, nullptr, nullptr), 0);
  int length = 10;
  EXPECT_EQ(CopyToEx(nullptr, 5, nullptr, &length), 0);
}

TEST(CopyHelpers, CopyToNeverPassesAStatedSize) {
  struct Case {
    int incoming;
    size_t room;
    bool written, terminator;
  } cases[] = {{0, 6, true, true}, {6, 6, true, true}, {5, 5, true, false}, {4, 4, false, false}};
  for (const auto& c : cases) {
    Guarded b(c.room);
    int length = c.incoming;
    CopyTo("hello", b.data(), &length, 12345);
    EXPECT_EQ(length, 5);
    if (c.written) {
      EXPECT_EQ(b.text(5), "hello");
    } else {
      EXPECT_TRUE(b.untouched());
    }
    if (c.terminator) {
      EXPECT_EQ(b.bytes[5], 0);
    }
    EXPECT_TRUE(b.guardIntact()) << c.incoming;
  }
  CopyTo("hello", nullptr, nullptr, 0);  // nothing to do, no crash
}

// The checkpoints of the method and digest calls, as an operator finds them
// in the trace directory (created here only when it is missing).
TEST(Checkpoints, MethodAndDigestCallsLeaveTheirMarkers) {
  const std::string dir = "/tmp/varolog";
  struct stat st;
  const bool created = ::stat(dir.c_str(), &st) != 0 && ::mkdir(dir.c_str(), 0700) == 0;
  if (!created &&
      (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()))
    GTEST_SKIP() << "no trace directory of our own";
  const char* names[] = {"inGetSignMethod1", "inGetSignMethod2", "inGetDigestMethod1",
                         "inGetDigestMethod2", "inGetDiges1"};
  for (const char* n : names) ::unlink((dir + "/" + n).c_str());
  int length = 0;
  OES_GetSignMethod(nullptr, &length);
  OES_GetDigestMethod(nullptr, &length);
  unsigned char method[] = "1.2.156.10197.1.401";
  OES_Digest(method, 3, method, 19, nullptr, &length);
  for (const char* n : names) {
    const std::string path = dir + "/" + n;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << n;
    EXPECT_EQ(st.st_size, 10) << n;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << n;
    ::unlink(path.c_str());
  }
  if (created) ::rmdir(dir.c_str());
}

}  // namespace
