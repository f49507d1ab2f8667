// The send library's choice of a header cache entry by remote queue and
// queue manager. The receive library takes the index from the mark instead
// and never links this file.
#include <cstring>

#include "channel/channel.h"
#include "host/platform.h"
#include "wire/segment.h"

namespace velt {

namespace {

// Compares a stored key with a name of the XQH as strings of at most 48
// characters (a NUL ends the comparison).
bool SameName(const char* stored, const unsigned char* name) {
  return std::strncmp(stored, reinterpret_cast<const char*>(name), kXqhNameLength) == 0;
}

void StoreKey(QueueKeyEntry* entry, const unsigned char* xqh) {
  CopyNulFilled(entry->QueueName, reinterpret_cast<const char*>(xqh + kXqhQueueName), kXqhNameLength);
  CopyNulFilled(entry->QueueMgrName, reinterpret_cast<const char*>(xqh + kXqhQueueMgrName), kXqhNameLength);
}

}  // namespace

uint16_t ReplaceOldestEntryAt(ChannelDescr* cd, const unsigned char* xqh, uint16_t table_size, int64_t now) {
  uint16_t candidate = 0;
  for (uint16_t i = 1; i < table_size; ++i) {
    const double candidate_age = static_cast<double>(now - cd->QueueKeys[candidate].LastUse);
    const double entry_age = static_cast<double>(now - cd->QueueKeys[i].LastUse);
    if (!(candidate_age > entry_age)) candidate = i;
  }
  StoreKey(&cd->QueueKeys[candidate], xqh);
  return candidate;
}

uint16_t ReplaceOldestEntry(ChannelDescr* cd, const unsigned char* xqh, uint16_t table_size) {
  return ReplaceOldestEntryAt(cd, xqh, table_size, CalendarSeconds());
}

uint16_t FindCacheEntryAt(const unsigned char* xqh, ChannelDescr* cd, uint16_t table_size, int64_t now) {
  const int32_t stamp = static_cast<int32_t>(now);
  for (uint16_t i = 0; i < table_size; ++i) {
    QueueKeyEntry* entry = &cd->QueueKeys[i];
    if (SameName(entry->QueueName, xqh + kXqhQueueName) && SameName(entry->QueueMgrName, xqh + kXqhQueueMgrName)) {
      entry->LastUse = stamp;
      return i;
    }
    if (entry->QueueName[0] == '\0') {
      StoreKey(entry, xqh);
      entry->LastUse = stamp;
      return i;
    }
  }
  const uint16_t taken = ReplaceOldestEntryAt(cd, xqh, table_size, now);
  cd->QueueKeys[taken].LastUse = stamp;
  return taken;
}

uint16_t FindCacheEntry(const unsigned char* xqh, ChannelDescr* cd, uint16_t table_size) {
  return FindCacheEntryAt(xqh, cd, table_size, CalendarSeconds());
}

}  // namespace velt
