#include "common/thread_texts.h"

#include <mutex>
#include <unordered_map>

namespace mirrow {
namespace {

// Node-based, so a thread's string stays put while other threads add theirs;
// only its own thread reads, writes or erases it.
struct Table {
  std::mutex lock;
  std::unordered_map<std::uint64_t, std::string> texts;
};

Table& table() {
  static Table instance;
  return instance;
}

std::string* find_own(Table& t) noexcept {
  std::lock_guard hold(t.lock);
  const auto found = t.texts.find(current_thread_key());
  return found == t.texts.end() ? nullptr : &found->second;
}

}  // namespace

std::string& this_thread_text() {
  Table& t = table();
  std::lock_guard hold(t.lock);
  return t.texts[current_thread_key()];
}

const char* this_thread_text_or_empty() noexcept {
  const std::string* text = find_own(table());
  return text == nullptr ? "" : text->c_str();
}

void clear_this_thread_text() noexcept {
  if (std::string* text = find_own(table())) text->clear();
}

void forget_this_thread_text() noexcept {
  Table& t = table();
  std::lock_guard hold(t.lock);
  t.texts.erase(current_thread_key());
}

}  // namespace mirrow
