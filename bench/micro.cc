// Microbenchmarks of the engine's inner steps: the code-page decoder on song
// titles and the frame pass on a tag of ten frames.
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <taglib/commentsframe.h>
#include <taglib/textidentificationframe.h>

#include "engine/platform/platform.h"
#include "engine/formats/repair.h"

namespace {

// cp1251 titles of the lengths tags usually hold ("Группа крови", ...).
const std::vector<std::string>& Cp1251Titles() {
  static const std::vector<std::string> titles = {
      "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8",
      "\xC7\xE2\xE5\xE7\xE4\xE0 \xEF\xEE \xE8\xEC\xE5\xED\xE8 \xD1\xEE\xEB\xED\xF6\xE5",
      "\xCB\xE5\xF2\xEE",
      "\xCF\xEE\xF1\xEB\xE5\xE4\xED\xE8\xE9 \xE3\xE5\xF0\xEE\xE9 (live 1988)",
      "\xD1\xE5\xE2\xE5\xF0\xED\xFB\xE9 \xE2\xE5\xF2\xE5\xF0 \xED\xE0\xE4 \xF2\xB8\xEC\xED\xEE\xE9 "
      "\xF0\xE5\xEA\xEE\xE9",
      "\xCA\xE8\xED\xEE",
      "\xC1\xE5\xEB\xFB\xE9 \xE3\xEE\xF0\xEE\xE4",
      "\xD0\xEE\xEA",
  };
  return titles;
}

void BM_DecodeCodePage1251(benchmark::State& state) {
  const std::vector<std::string>& titles = Cp1251Titles();
  DecodeCodePage(1251, titles[0]);  // the table is built once, outside the loop
  std::size_t i = 0, bytes = 0;
  for (auto _ : state) {
    const std::string& title = titles[i++ % titles.size()];
    benchmark::DoNotOptimize(DecodeCodePage(1251, title));
    bytes += title.size();
  }
  state.SetBytesProcessed(std::int64_t(bytes));
}
BENCHMARK(BM_DecodeCodePage1251);

// A double-byte page: cp936 text of the same length class.
void BM_DecodeCodePage936(benchmark::State& state) {
  const std::string title = "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7 \xB8\xE8 2008";
  DecodeCodePage(936, title);
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeCodePage(936, title));
  state.SetBytesProcessed(std::int64_t(state.iterations() * title.size()));
}
BENCHMARK(BM_DecodeCodePage936);

// Ten frames as a Russian tagger leaves them: text frames, TXXX and a comment.
class Tag10 {
 public:
  explicit Tag10(TagLib::String::Type encoding) {
    const auto& titles = Cp1251Titles();
    auto text = [&](const std::string& bytes) {
      if (encoding == TagLib::String::Latin1)
        return TagLib::String(bytes, TagLib::String::Latin1);
      return TagLib::String(DecodeCodePage(1251, bytes), TagLib::String::UTF16BE);
    };
    const char* const ids[] = {"TIT2", "TPE1", "TALB", "TPE2", "TCON", "TCOM"};
    for (int i = 0; i < 6; ++i)
      Add(ids[i], text(titles[std::size_t(i)]), encoding);
    Add("TRCK", "3/12", TagLib::String::Latin1);
    Add("TYER", "1988", TagLib::String::Latin1);
    auto* user = new TagLib::ID3v2::UserTextIdentificationFrame(encoding);
    user->setDescription(text("\xC8\xF1\xF2\xEE\xF7\xED\xE8\xEA"));
    user->setText(text(titles[6]));
    Keep(user);
    auto* comment = new TagLib::ID3v2::CommentsFrame(encoding);
    comment->setText(text(titles[4]));
    Keep(comment);
  }
  const TagLib::ID3v2::FrameList& frames() const { return list_; }

 private:
  void Add(const char* id, const TagLib::String& value, TagLib::String::Type encoding) {
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, encoding);
    frame->setText(value);
    Keep(frame);
  }
  void Keep(TagLib::ID3v2::Frame* frame) {
    owned_.emplace_back(frame);
    list_.append(frame);
  }
  std::vector<std::unique_ptr<TagLib::ID3v2::Frame>> owned_;
  TagLib::ID3v2::FrameList list_;
};

// The pass changes the frames it repairs, so it runs over a pool of fresh
// tags rebuilt outside the timing when used up.
void BM_FixTextFramesRepair(benchmark::State& state) {
  constexpr std::size_t kPool = 512;
  std::vector<std::unique_ptr<Tag10>> pool;
  std::size_t next = kPool;
  for (auto _ : state) {
    if (next == kPool) {
      state.PauseTiming();
      pool.clear();
      for (std::size_t i = 0; i < kPool; ++i) {
        pool.push_back(std::make_unique<Tag10>(TagLib::String::Latin1));
      }
      next = 0;
      state.ResumeTiming();
    }
    bool changed = false;
    FixTextFrames(pool[next++]->frames(), 1251, changed);
    benchmark::DoNotOptimize(changed);
  }
}
BENCHMARK(BM_FixTextFramesRepair);

// A tag that needs nothing (already UTF-16): the pass of most files.
void BM_FixTextFramesNothingToDo(benchmark::State& state) {
  const Tag10 tag(TagLib::String::UTF16);
  for (auto _ : state) {
    bool changed = false;
    FixTextFrames(tag.frames(), 1251, changed);
    benchmark::DoNotOptimize(changed);
  }
}
BENCHMARK(BM_FixTextFramesNothingToDo);

}  // namespace

BENCHMARK_MAIN();
