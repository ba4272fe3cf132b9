// The words a bulk erase takes (factory words, unit ID words) are always on
// the part or in a kept file, whenever the link is lost; restore-row puts
// them back on the part they came from only.
#include "icsp/kept_words.h"

#include <gtest/gtest.h>

#include <map>

#include "icsp/operations.h"
#include "test_support/executive_files.h"
#include "test_support/sim_session.h"

namespace quillon::icsp {
namespace {

using test_support::SimSession;

class FakeStore : public KeptWordsStore {
 public:
  std::string Save(KeptWords words, std::string& why) override {
    if (full) {
      why = "kept: No space left on device";
      return {};
    }
    const std::string name = "kept/" + std::to_string(words.device_id) + "-" + words.port + "-" +
                             std::to_string(files.size());
    files[name] = FormatKeptWords(words);
    newest[{words.device_id, words.port}] = name;
    return name;
  }
  std::vector<std::string> List(std::uint16_t id, const std::string& port) override {
    if (!newest.contains({id, port})) return {};
    return {newest[{id, port}]};
  }
  std::optional<std::string> Load(const std::string& name) override {
    if (!files.contains(name)) return {};
    return files[name];
  }
  std::map<std::string, std::string> files;
  std::map<std::pair<std::uint16_t, std::string>, std::string> newest;
  bool full = false;
};

struct Kept : SimSession {
  explicit Kept(const char* device, bool executive = true)
      : SimSession(test_support::BoardFor(device, test_support::kFirmware12, executive)) {
    session.set_kept_words_store(&store);
    EXPECT_TRUE(SelectSimulated());
    target().FillRandom(7);
    area = KeptAreaOf(session.device().device);
    before = OnChip();
  }
  std::vector<std::uint32_t> OnChip() {
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < area.instructions; ++i) {
      words.push_back(target().Executive(area.first + 2 * i));
    }
    return words;
  }
  void Blank() {
    for (std::uint32_t i = 0; i < area.instructions; ++i) {
      target().SetExecutive(area.first + 2 * i, 0xFFFFFF);
    }
  }
  std::uint64_t Exchanges() { return port.board().stats().exchanges; }
  void Reconnect() {
    port.board().faults().silent_after.reset();
    sink.entries.clear();
    session.BeginOperation();
  }
  bool Mentioned(const std::string& text) {
    for (const std::string& e : Errors()) {
      if (e.find(text) != std::string::npos) return true;
    }
    return false;
  }

  FakeStore store;
  KeptArea area;
  std::vector<std::uint32_t> before;
};

const char* const kDevices[] = {"dsPIC30F2010", "PIC24HJ12GP201", "PIC24FJ64GA306"};

TEST(KeptWordsTest, SurviveALinkLostAnywhereInTheEraseAndComeBackWithRestoreRow) {
  for (const char* device : kDevices) {
    std::uint64_t total = 0;
    {
      Kept whole(device);
      BulkErase(whole.session);
      total = whole.Exchanges();
      EXPECT_EQ(whole.OnChip(), whole.before) << device;
    }
    for (std::uint64_t k = 0; k <= total; k += std::max<std::uint64_t>(1, total / 15)) {
      SCOPED_TRACE(std::string(device) + " silent after " + std::to_string(k));
      Kept f(device);
      f.port.board().faults().silent_after = f.Exchanges() + k;
      BulkErase(f.session);
      EXPECT_EQ(f.session.outcome(), Outcome::kLinkFailure);
      const bool on_chip = f.OnChip() == f.before;
      if (f.store.files.empty()) {
        EXPECT_TRUE(on_chip);  // not kept: nothing was erased
        continue;
      }
      const std::string file = f.store.files.begin()->first;
      EXPECT_EQ(ParseKeptWords(f.store.files[file])->instructions, f.before);
      EXPECT_TRUE(f.Mentioned(file));
      if (on_chip) continue;
      f.Reconnect();
      f.Blank();  // a half-written row: erase it as a part in the field would be
      RestoreKeptWords(f.session, file);
      EXPECT_EQ(f.OnChip(), f.before);
      EXPECT_EQ(f.sink.last_text(), "Restoring Successful!");
    }
  }
}

// Putting an executive in erases executive memory as a whole as well.
TEST(KeptWordsTest, PuttingAnExecutiveInKeepsThemToo) {
  const std::filesystem::path files = std::filesystem::path(::testing::TempDir()) / "kept_exec";
  std::filesystem::create_directories(files);
  test_support::WriteExecutiveFiles(files);
  for (const char* device : kDevices) {
    SCOPED_TRACE(device);
    Kept f(device, /*executive=*/false);
    for (std::uint32_t i = 0; i < f.area.instructions; ++i) {
      f.target().SetExecutive(f.area.first + 2 * i, 0x00C000 | i);
    }
    f.before = f.OnChip();
    f.options.enhanced_icsp = true;
    f.session.set_executive_dir(files.string());
    ASSERT_TRUE(PrepareExecutive(f.session));
    EXPECT_EQ(f.OnChip(), f.before);
    EXPECT_EQ(f.store.files.size(), 1u);
  }
}

TEST(KeptWordsTest, NothingErasedWhenTheWordsCannotBeKept) {
  for (const char* device : kDevices) {
    SCOPED_TRACE(device);
    Kept f(device);
    f.store.full = true;
    const std::uint32_t program = f.target().Program(0);
    EXPECT_EQ(BulkErase(f.session), Outcome::kWordsNotKept);
    EXPECT_EQ(f.target().Program(0), program);
    EXPECT_EQ(f.OnChip(), f.before);
    EXPECT_TRUE(f.Mentioned("No space left on device"));
  }
}

// A copy belongs to one part on one port: a blank part on another port is
// never offered it.
TEST(KeptWordsTest, ABlankAreaKeepsTheGoodCopyNewestAndNamesIt) {
  Kept f("PIC24HJ12GP201");
  f.session.set_port_name("/dev/ttyUSB0");
  BulkErase(f.session);
  ASSERT_EQ(f.store.files.size(), 1u);
  const std::string good = f.store.files.begin()->first;
  const std::optional<KeptWords> kept = ParseKeptWords(f.store.files[good]);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->port, "/dev/ttyUSB0");
  f.Blank();
  auto offered = [&f, &good] {
    bool named = false;
    for (const auto& e : f.sink.entries) {
      named |= e.text.find("quillon restore-row " + good) != std::string::npos;
    }
    return named;
  };
  f.session.set_port_name("/dev/ttyUSB1");
  f.Reconnect();
  BulkErase(f.session);
  EXPECT_FALSE(offered());
  f.session.set_port_name("/dev/ttyUSB0");
  f.Reconnect();
  BulkErase(f.session);
  EXPECT_EQ(f.store.files.size(), 1u);
  EXPECT_TRUE(offered());
  f.Reconnect();
  RestoreKeptWords(f.session, good);
  EXPECT_EQ(f.OnChip(), f.before);
}

TEST(KeptWordsTest, RestoreRowRefusesAnotherPartOtherWordsAndForeignFiles) {
  Kept f("PIC24HJ12GP201");
  KeptWords words;
  words.device_id = f.session.device().device.device_id;
  words.device = "PIC24HJ12GP201";
  words.first = f.area.first;
  words.instructions = f.before;
  for (std::uint32_t& w : words.instructions) w ^= 0x0F;
  KeptWords other = words;
  other.device_id ^= 1;
  f.store.files["other"] = FormatKeptWords(other);
  f.store.files["different"] = FormatKeptWords(words);
  f.store.files["foreign"] = "Quillon kept words\nDeviceID 0x1234\nFrom 0x800000\nWords 0\nEnd\n";
  const struct {
    const char* file;
    Outcome outcome;
  } cases[] = {{"other", Outcome::kProblem},
               {"different", Outcome::kProblem},
               {"foreign", Outcome::kFileRejected},
               {"missing", Outcome::kFileRejected}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    f.Reconnect();
    RestoreKeptWords(f.session, c.file);
    EXPECT_EQ(f.session.outcome(), c.outcome);
    EXPECT_EQ(f.OnChip(), f.before);
  }
  // The right file onto the blank area.
  f.Blank();
  f.Reconnect();
  RestoreKeptWords(f.session, "different");
  EXPECT_EQ(f.session.outcome(), Outcome::kOk);
  EXPECT_EQ(f.OnChip(), words.instructions);
}

}  // namespace
}  // namespace quillon::icsp
