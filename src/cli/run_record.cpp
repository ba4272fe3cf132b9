#include "cli/run_record.h"

#include <cstdio>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "image/formats.h"
#include "report/message.h"

namespace quillon::cli {
std::string CountedText(long count, const char* english, const char* japanese,
                        std::uint16_t language) {
  if (count <= 0) return "";
  const std::string n = std::to_string(count);
  return report::Pick(
      {", " + n + " " + english, std::string(", ") + japanese + " " + n + " ワード"}, language);
}

std::string CountsText(const WordCounts& c, bool with_config, std::uint16_t language) {
  const std::string n = std::to_string(c.program);
  std::string text = report::Pick({n + " program words", "プログラム " + n + " ワード"}, language);
  text += CountedText(c.eeprom, "EEPROM words", "EEPROM", language);
  if (with_config) {
    text += CountedText(c.config, "configuration words", "コンフィギュレーション", language);
  }
  return text;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& text) {
  return text.empty() ? std::string("null") : JsonString(text);
}

namespace {

// A result as the JSON object names it, and for people in either language.
struct ResultWords {
  Result result;
  const char* name;
  report::MessagePair text;
};

const ResultWords& WordsFor(Result result) {
  static const ResultWords kWords[] = {
      {Result::kOk, "ok", {"ok", "成功"}},
      {Result::kProblem, "problem", {"problem", "不良"}},
      {Result::kUsage, "usage error", {"refused", "拒否"}},
      {Result::kLinkFailure, "link failure", {"link failure", "通信失敗"}},
      {Result::kFileRejected, "file rejected", {"file rejected", "ファイル不可"}},
      {Result::kStopped, "stopped", {"stopped", "中断"}},
      {Result::kWordsNotKept, "failed", {"failed", "失敗"}},
  };
  for (const ResultWords& words : kWords) {
    if (words.result == result) return words;
  }
  return kWords[6];
}

}  // namespace

const char* ResultName(Result result) {
  return WordsFor(result).name;
}

std::string ResultText(Result result, std::uint16_t language) {
  return report::Pick(WordsFor(result).text, language);
}

WordCounts CountImageWords(const image::MemoryImage& image, long program_words, long eeprom_bytes,
                           int config_written) {
  WordCounts counts;
  for (long i = 0; i < program_words; ++i) {
    counts.program += image::InstructionAt(image.program, static_cast<std::size_t>(i)) != 0xFFFFFF;
  }
  for (long i = 0; i < eeprom_bytes / 2; ++i) counts.eeprom += image.eeprom[i] != 0xFFFF;
  for (int k = 0; k < config_written; ++k) counts.config += image.config_present[k];
  return counts;
}

std::string SummaryLine(const RunRecord& r, std::uint16_t language) {
  if (r.part.empty() || r.exit_status != Result::kOk) return "";
  const std::string seconds = SecondsNumber(r.elapsed_ms);
  const std::string tail = report::Pick({", " + seconds + " s", ", " + seconds + " 秒"}, language);
  const ConsoleCommand& command = CommandFor(r.command);
  if (command.summary == nullptr) return "";
  std::string what = command.summary(r, language);
  if (r.serial) {
    const std::string n = std::to_string(*r.serial);
    what += r.dry_run
                ? report::Pick({", next serial number " + n, ", 次のシリアル番号 " + n}, language)
                : report::Pick({", serial number " + n, ", シリアル番号 " + n}, language);
  }
  return r.part + ": " + what + tail;
}

void WriteJson(const RunRecord& r, std::ostream& out, bool with_port) {
  out << "{\"operation\":" << (r.command_known ? JsonString(CommandName(r.command)) : "null");
  out << ",\"part\":" << (r.part.empty() || !r.identified ? "null" : JsonString(r.part));
  out << ",\"device_id\":"
      << JsonOrNull(r.device_id && r.identified ? "0x" + image::Hex4(*r.device_id) : "");
  if (!r.firmware.empty()) out << ",\"firmware\":" << JsonString(r.firmware);
  out << ",\"result\":" << JsonString(ResultName(r.exit_status));
  if (r.dry_run) out << ",\"dry_run\":true";
  if (r.incremental) out << ",\"incremental\":true";
  if (r.counts) {
    out << ",\"words\":{\"program\":" << r.counts->program << ",\"eeprom\":" << r.counts->eeprom
        << ",\"configuration\":" << r.counts->config << "}";
  }
  if (r.units) {
    out << ",\"unit\":" << JsonString(r.units->unit.english)
        << ",\"units_compared\":" << r.units->compared;
    if (!r.dry_run) {
      out << ",\"units_written\":" << r.units->written
          << ",\"eeprom_words_rewritten\":" << r.units->eeprom_words
          << ",\"configuration_registers_rewritten\":" << r.units->config_registers;
    }
  }
  if (const auto json = CommandFor(r.command).json) json(r, out);
  if (with_port) out << ",\"port\":" << JsonString(r.port);
  if (r.serial) out << ",\"serial\":" << *r.serial;
  if (!r.file.empty()) out << ",\"file\":" << JsonString(r.file);
  out << ",\"sha256\":" << (r.sha256 ? JsonString(*r.sha256) : "null");
  out << ",\"seconds\":" << SecondsNumber(r.elapsed_ms)
      << ",\"exit_status\":" << ExitStatus(r.exit_status) << "}\n";
  out.flush();
}

}  // namespace quillon::cli
