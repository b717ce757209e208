// The printers' render cache: one render per distinct content and profile,
// shared across threads, bounded, and a failed render not kept.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "RenderCache.h"

namespace {

TJobRender Rendered(const std::string& ALanguage, int APages) {
  TJobRender r;
  r.Language = ALanguage;
  r.Pages = APages;
  return r;
}

TEST(RenderCacheTest, EachContentAndProfileIsRenderedOnce) {
  TRenderCache cache;
  int renders = 0;
  auto render = [&] {
    ++renders;
    return Rendered("TSPL", renders);
  };
  const std::vector<uint8_t> a = {'A', 0, 'B'}, a2 = {'A', 0, 'B'}, b = {'A', 0, 'C'};
  TRenderOptions narrow;
  narrow.Width = 384;
  struct TCase {
    const char* Name;
    const std::vector<uint8_t>* Content;
    std::string Profile;
    bool WithPng;
    int Renders;  // after this Get
    int Pages;    // what it answers
  };
  const TCase cases[] = {
      {"first content", &a, RenderProfileKey(TRenderOptions()), false, 1, 1},
      {"the same bytes again", &a2, RenderProfileKey(TRenderOptions()), false, 1, 1},
      {"one byte differs", &b, RenderProfileKey(TRenderOptions()), false, 2, 2},
      {"another profile", &a, RenderProfileKey(narrow), false, 3, 3},
      {"pages asked for now", &a, RenderProfileKey(TRenderOptions()), true, 4, 4},
      {"and kept with them", &a, RenderProfileKey(TRenderOptions()), false, 4, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto r = cache.Get(*c.Content, c.Profile, c.WithPng, render);
    EXPECT_EQ(renders, c.Renders);
    EXPECT_EQ(r->Pages, c.Pages);
  }
  EXPECT_EQ(cache.Renders(), 4u);
  EXPECT_EQ(cache.Hits(), 2u);
  EXPECT_NE(RenderProfileKey(TRenderOptions()), RenderProfileKey(narrow));
}

TEST(RenderCacheTest, TheLeastRecentlyUsedGoFirstWithinTheBounds) {
  TRenderCache cache(2, std::size_t{1} << 20);
  int renders = 0;
  auto render = [&] {
    ++renders;
    return Rendered("ESC/POS", 1);
  };
  const std::vector<uint8_t> a = {1}, b = {2}, c = {3};
  cache.Get(a, "", false, render);
  cache.Get(b, "", false, render);
  cache.Get(a, "", false, render);  // a is now the most recent
  cache.Get(c, "", false, render);  // b goes
  EXPECT_EQ(renders, 3);
  cache.Get(a, "", false, render);
  EXPECT_EQ(renders, 3);
  cache.Get(b, "", false, render);
  EXPECT_EQ(renders, 4);

  // Bytes count too: pages larger than the bound are not kept beside another entry.
  TRenderCache small(16, 64);
  auto big = [&] {
    ++renders;
    TJobRender r = Rendered("TSPL", 1);
    r.Png.push_back(std::vector<uint8_t>(100, 0x89));
    return r;
  };
  renders = 0;
  small.Get(a, "", true, big);
  small.Get(b, "", true, big);
  small.Get(a, "", true, big);
  EXPECT_EQ(renders, 3);
}

TEST(RenderCacheTest, ARenderThatDependedOnMoreThanItsContentIsNotKept) {
  TRenderCache cache;
  int renders = 0;
  const std::vector<uint8_t> a = {9};
  for (int i = 0; i < 2; ++i)
    cache.Get(a, "", false, [&] {
      ++renders;
      TJobRender r = Rendered("TSPL", 1);
      r.Keep = false;  // out of its time budget
      return r;
    });
  EXPECT_EQ(renders, 2);
  cache.Get(a, "", false, [&] {
    ++renders;
    return Rendered("TSPL", 1);
  });
  cache.Get(a, "", false, [&] {
    ++renders;
    return Rendered("TSPL", 1);
  });
  EXPECT_EQ(renders, 3);
}

TEST(RenderCacheTest, AFailedRenderIsNotKept) {
  TRenderCache cache;
  int calls = 0;
  const std::vector<uint8_t> a = {7};
  EXPECT_THROW(cache.Get(a, "", false,
                         [&]() -> TJobRender {
                           ++calls;
                           throw std::runtime_error("out of memory");
                         }),
               std::runtime_error);
  const auto r = cache.Get(a, "", false, [&] {
    ++calls;
    return Rendered("TSPL", 2);
  });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(r->Pages, 2);
}

// Many threads asking for one content at once: one renders, the others
// wait for its result.
TEST(RenderCacheTest, ThreadsAskingTogetherShareOneRender) {
  TRenderCache cache;
  std::atomic<int> renders{0};
  std::atomic<bool> go{false};
  const std::vector<uint8_t> a = {'J', 'O', 'B'};
  std::vector<std::thread> threads;
  std::vector<int> pages(8, 0);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      pages[static_cast<std::size_t>(i)] =
          cache
              .Get(a, "", false,
                   [&] {
                     ++renders;
                     std::this_thread::sleep_for(std::chrono::milliseconds(20));
                     return Rendered("TSPL", 5);
                   })
              ->Pages;
    });
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(renders.load(), 1);
  EXPECT_EQ(pages, std::vector<int>(8, 5));
}

}  // namespace
