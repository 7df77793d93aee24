// libFuzzer target: the free-format reader.  The first byte of each run
// chooses a sequence of reads (integers, reals, words, lists, line skips,
// backspaces); the rest is the text read.  Only ff::InputError may leave a
// read; the sanitizers catch everything else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "freeformat/reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t plan = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // Whole-token parsing on every word of every line.
  {
    auto r = ff::Reader::from_string("fuzz", text);
    std::vector<std::string> words;
    const std::size_t n = r->line_count();
    for (std::size_t i = 0; i < n; ++i) {
      (void)r->line_text(i);
      if (!r->split_line(i, words)) continue;
      for (const auto& w : words) {
        std::int32_t i32 = 0;
        std::int64_t i64 = 0;
        double d = 0;
        (void)ff::parse_int32(w, i32);
        (void)ff::parse_int64(w, i64);
        (void)ff::parse_real(w, d);
      }
    }
  }

  // A dialogue-like sequence of reads until the input ends or fails.
  auto r = ff::Reader::from_string("fuzz", text);
  try {
    for (unsigned step = 0; step < 64; ++step) {
      switch ((plan + step * 7u) % 9u) {
        case 0: (void)r->read_int32(); break;
        case 1: (void)r->read_int64(); break;
        case 2: (void)r->read_real(); break;
        case 3: (void)r->read_word(); break;
        case 4: (void)r->read_reals(1 + step % 4); break;
        case 5: (void)r->read_int32s(step % 3); break;
        case 6: r->backspace(); (void)r->next_line_blank(); break;
        case 7: if (!r->skip_line()) return 0; break;
        default: {
          ff::Read rd = r->read();
          (void)rd.word();
          (void)rd.real();
        }
      }
      if (r->at_end()) return 0;
    }
  } catch (const ff::InputError&) {
  }
  return 0;
}
