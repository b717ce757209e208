// What the printers of one process learn from rendering a job, kept once
// per distinct content: a fleet under load receives the same few jobs many
// thousand times, and the load test is meant to measure the cloud, not the
// renderer. Keyed by the job's command bytes and the profile they were
// drawn for; bounded in entries and bytes (least recently used go first).
// Thread-safe: renderers in several threads share one cache, and a content
// being rendered by one is waited for by the others, not rendered twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Render.h"

struct TJobRender {
  std::string Language;   // "ESC/POS" or "TSPL"
  std::string LintError;  // the first error finding; empty when the printer takes the job
  int Pages = 0;
  std::vector<std::vector<uint8_t>> Png;  // the pages as PNG, when they were asked for
  // False: the render depended on more than the content (it ran out of its
  // time budget), so it answers its own job and is not kept for others.
  bool Keep = true;
};

// The profile part of a cache key: every option that changes what is drawn
// (a render that hands its pages to OnPage is not cached).
std::string RenderProfileKey(const TRenderOptions& AOptions);

class TRenderCache {
 public:
  explicit TRenderCache(std::size_t AMaxEntries = 256, std::size_t AMaxBytes = std::size_t{64} << 20);

  // The render of ACommands for AProfile: from the cache, or from ARender
  // (run here, once per content) when it is not there. AWithPng: the pages
  // are needed as PNG; an entry without them is rendered again with them.
  std::shared_ptr<const TJobRender> Get(const std::vector<uint8_t>& ACommands, const std::string& AProfile,
                                        bool AWithPng, const std::function<TJobRender()>& ARender);

  std::size_t Renders() const;  // how many times ARender ran
  std::size_t Hits() const;     // how many Gets were answered from the cache

 private:
  struct TEntry {
    std::shared_future<std::shared_ptr<const TJobRender>> Result;
    std::size_t Bytes = 0;
    bool WithPng = false;
    std::list<std::string>::iterator Age;
  };
  void Evict();  // FLock held

  const std::size_t FMaxEntries, FMaxBytes;
  mutable std::mutex FLock;
  std::unordered_map<std::string, TEntry> FEntries;
  std::list<std::string> FAges;  // most recently used first
  std::size_t FBytes = 0, FRenders = 0, FHits = 0;
};
