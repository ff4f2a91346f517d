// Listings that arrive in odd pieces, end without a line end, hold an oversized line or are
// cut off: each line comes out whole and once, or the listing fails with its reason.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/faults/fault_fixture.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

const std::string kListing =
    "total 2\r\n-rw-r--r-- 1 u g 5 Jan 1 2000 a.txt\r\n\r\nlf only\nlast without end";
// What List hands back: every line without its line end, then CR LF; a line of two bytes
// keeps its own.
const std::string kListed =
    "total 2\r\n-rw-r--r-- 1 u g 5 Jan 1 2000 a.txt\r\n\r\n\r\nlf only\r\nlast without end\r\n";

std::string ManyLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) {
    lines += "-rw-r--r-- 1 u g 5 Jan 1 2000 file-" + std::to_string(i) + ".txt\r\n";
  }
  return lines;
}

struct ListingCase {
  const char* name;
  testing::DataAction data;
  int32_t result;
  std::string listed_or_failure;  // the listing on success, else the failure line
  std::string closing = "226 Done\r\n";
};

TEST_F(FacadeFaultTest, ListingsInPiecesAndBrokenListings) {
  const std::string longest(65535, 'w');  // with its LF, as long as a line may be
  const ListingCase cases[] = {
      {"all at once", Data::Send(kListing), 150, kListed},
      {"one byte at a time", Data::Send(kListing).Chunks(1, 1ms), 150, kListed},
      {"pieces of seven bytes", Data::Send(kListing).Chunks(7, 2ms), 150, kListed},
      {"the longest line there may be", Data::Send(longest + "\n" + kListing).Chunks(4096, 1ms),
       150, longest + "\r\n" + kListed},
      {"a line longer than 64 KiB", Data::Send(std::string(70000, 'w') + "\r\n"), 999,
       "Line too long: no line end within 65536 bytes"},
      {"a line longer than 64 KiB in pieces",
       Data::Send(kListing.substr(0, 20) + std::string(70000, 'w') + "\n").Chunks(4096, 1ms), 999,
       "Line too long: no line end within 65536 bytes"},
      {"reset in the middle", Data::Send(ManyLines(5000)).Chunks(65536, 5ms).ResetAfter(131072),
       999, "10054:Connection reset by peer"},
      {"closed with 426", Data::Send(kListing), 426, "426 Connection closed; transfer aborted.",
       "426 Connection closed; transfer aborted.\r\n"},
      {"closed with 451", Data::Send(kListing), 451, "451 Local error in processing.",
       "451 Local error in processing.\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    FakeFtpServer server({Session(LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                            Expect("LIST", "150 Here it comes\r\n", c.data),
                                            Reply(c.closing), Silence()}))},
                         {.io_timeout = 5s});
    Login(server);
    std::string listing = "untouched";
    const Timed t = Time([&] { return ftp().List("", listing); });
    EXPECT_EQ(t.result, c.result) << Joined(log_);
    if (c.result == 150) {
      EXPECT_TRUE(listing == c.listed_or_failure) << listing.size() << " bytes listed";
    } else {
      // Whatever arrived is handed over for the user to see, though it fails.
      EXPECT_TRUE(kListed.starts_with(listing) || ManyLines(5000).starts_with(listing) ||
                  listing.empty())
          << listing.size() << " bytes listed";
      if (!c.closing.starts_with("226")) {
        EXPECT_EQ(listing, kListed);
      }
      ASSERT_FALSE(log_.empty());
      EXPECT_EQ(log_.back(), c.listed_or_failure) << Joined(log_);
    }
    EXPECT_LE(t.ms, kNoHangMs);
  }
}

}  // namespace
}  // namespace tarnex::faults
