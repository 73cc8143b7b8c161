#include "platform/file_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

// One record per live temporary file: its folder handle and serial in one
// atomic word, so that a signal sees a whole record or none; 0 is a free slot.
// The name is made again from the serial in the handler, which may not
// allocate. The engine writes one file at a time; a few slots spare.
constexpr int kRecordSlots = 8;
std::atomic<uint64_t> g_records[kRecordSlots];
static_assert(std::atomic<uint64_t>::is_always_lock_free, "a signal handler reads the records");

std::atomic<uint32_t> g_serial{0};

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// ".tdx", two decimal numbers of up to 10 digits, "-", ".part" and the end.
constexpr size_t kNameBytes = 32;

// Async-signal-safe: digits by hand, no allocation.
char* PutDecimal(char* out, uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* PutText(char* out, const char* text) {
  while (*text) *out++ = *text++;
  return out;
}

void FormatName(char (&name)[kNameBytes], uint32_t serial) {
  char* out = PutText(name, ".tdx");
  out = PutDecimal(out, static_cast<uint64_t>(::getpid()));
  out = PutText(out, "-");
  out = PutDecimal(out, serial);
  out = PutText(out, ".part");
  *out = '\0';
}

uint64_t Pack(int folder_fd, uint32_t serial) {
  return (static_cast<uint64_t>(folder_fd) + 1) << 32 | serial;
}

void RemoveTemporaryFilesAndEnd(int signal_number) {
  for (std::atomic<uint64_t>& slot : g_records) {
    const uint64_t record = slot.load(std::memory_order_acquire);
    if (record == 0) continue;
    char name[kNameBytes];
    FormatName(name, static_cast<uint32_t>(record));
    ::unlinkat(static_cast<int>((record >> 32) - 1), name, 0);
  }
  // The default action, so that the process ends as the signal says. Blocked
  // while this handler runs, the signal arrives as it returns.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
}

}  // namespace

void SetUpFileSignals() {
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = RemoveTemporaryFilesAndEnd;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kEndingSignals) sigaddset(&action.sa_mask, signal_number);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kEndingSignals) {
    struct sigaction inherited {};
    if (::sigaction(signal_number, nullptr, &inherited) != 0) continue;
    if (inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

uint32_t NextTemporarySerial() { return g_serial.fetch_add(1); }

std::string TemporaryFileName(uint32_t serial) {
  char name[kNameBytes];
  FormatName(name, serial);
  return name;
}

int RecordTemporaryFile(int folder_fd, uint32_t serial) {
  if (folder_fd < 0) return -1;
  const uint64_t record = Pack(folder_fd, serial);
  for (int slot = 0; slot < kRecordSlots; ++slot) {
    uint64_t free_slot = 0;
    if (g_records[slot].compare_exchange_strong(free_slot, record, std::memory_order_release))
      return slot;
  }
  return -1;
}

void DropTemporaryFile(int slot) {
  if (slot >= 0 && slot < kRecordSlots) g_records[slot].store(0, std::memory_order_release);
}
