#include "RenderCache.h"

std::string RenderProfileKey(const TRenderOptions& AOptions) {
  std::string key;
  for (const std::size_t v :
       {static_cast<std::size_t>(AOptions.Width), static_cast<std::size_t>(AOptions.Language),
        static_cast<std::size_t>(AOptions.MaxPageHeight), AOptions.PrinterBufferBytes,
        AOptions.MaxMessageBytes, static_cast<std::size_t>(AOptions.MaxPages),
        static_cast<std::size_t>(AOptions.MaxLabelDots), AOptions.MaxPageBytes,
        static_cast<std::size_t>(AOptions.MaxJobPages), AOptions.MaxJobDotBytes,
        static_cast<std::size_t>(AOptions.MaxJobMilliseconds), AOptions.MaxListingLines,
        static_cast<std::size_t>(AOptions.Force)})
    key += std::to_string(v) + "/";
  return key + AOptions.Profile + "/" + AOptions.Serial;
}

TRenderCache::TRenderCache(std::size_t AMaxEntries, std::size_t AMaxBytes)
    : FMaxEntries(AMaxEntries), FMaxBytes(AMaxBytes) {}

std::shared_ptr<const TJobRender> TRenderCache::Get(const std::vector<uint8_t>& ACommands,
                                                    const std::string& AProfile, bool AWithPng,
                                                    const std::function<TJobRender()>& ARender) {
  // The key holds the whole content: two jobs share an entry only when every
  // byte is the same.
  std::string key;
  key.reserve(AProfile.size() + 1 + ACommands.size());
  key.append(AProfile).push_back('\0');
  key.append(ACommands.begin(), ACommands.end());
  std::promise<std::shared_ptr<const TJobRender>> promise;
  std::shared_future<std::shared_ptr<const TJobRender>> waitFor;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const auto it = FEntries.find(key);
    if (it != FEntries.end() && (it->second.WithPng || !AWithPng)) {
      ++FHits;
      FAges.splice(FAges.begin(), FAges, it->second.Age);
      waitFor = it->second.Result;
    } else {
      if (it != FEntries.end()) {
        FBytes -= it->second.Bytes;
        FAges.erase(it->second.Age);
        FEntries.erase(it);
      }
      ++FRenders;
      FAges.push_front(key);
      TEntry& e = FEntries[key];
      e.Result = promise.get_future().share();
      e.Bytes = key.size();
      e.WithPng = AWithPng;
      e.Age = FAges.begin();
      FBytes += e.Bytes;
    }
  }
  if (waitFor.valid()) return waitFor.get();

  std::shared_ptr<const TJobRender> result;
  try {
    result = std::make_shared<const TJobRender>(ARender());
  } catch (...) {
    // Not kept: the next job of this content tries again.
    promise.set_exception(std::current_exception());
    std::lock_guard<std::mutex> guard(FLock);
    const auto it = FEntries.find(key);
    if (it != FEntries.end()) {
      FBytes -= it->second.Bytes;
      FAges.erase(it->second.Age);
      FEntries.erase(it);
    }
    throw;
  }
  promise.set_value(result);
  std::size_t bytes = 0;
  for (const auto& png : result->Png) bytes += png.size();
  std::lock_guard<std::mutex> guard(FLock);
  const auto it = FEntries.find(key);
  if (it != FEntries.end()) {
    if (!result->Keep) {
      // Those already waiting get it; the next job renders anew.
      FBytes -= it->second.Bytes;
      FAges.erase(it->second.Age);
      FEntries.erase(it);
    } else {
      it->second.Bytes += bytes;
      FBytes += bytes;
    }
  }
  Evict();
  return result;
}

void TRenderCache::Evict() {
  // The newest entry stays even when it alone is over the bounds; it goes
  // as soon as another takes its place.
  while (FEntries.size() > 1 && (FEntries.size() > FMaxEntries || FBytes > FMaxBytes)) {
    const auto it = FEntries.find(FAges.back());
    FBytes -= it->second.Bytes;
    FEntries.erase(it);
    FAges.pop_back();
  }
}

std::size_t TRenderCache::Renders() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRenders;
}

std::size_t TRenderCache::Hits() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FHits;
}
