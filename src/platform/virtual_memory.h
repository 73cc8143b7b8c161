#pragma once
#include <cstdint>

// Large value blocks taken straight from the operating system: one private
// anonymous mapping per block, read/write, zero on first touch.

// Reserves and commits a zeroed read/write block of `bytes` bytes (bytes > 0).
// Null when the system cannot back it: the request is weighed against the
// memory still available, less what earlier blocks have reserved but not yet
// touched, so an overcommitting kernel does not hand out memory that would end
// the process later; null also when the mapping itself fails.
void* ReserveZeroedBlock(uint64_t bytes);

// Whether `bytes` more bytes can be backed now, by the rule ReserveZeroedBlock
// applies: they and the bytes of blocks reserved but not yet touched must stay
// within the memory available (true when the memory status cannot be read);
// and whether they and `reserved_only` more bytes of address space that take
// no memory yet (reservations) stay within the process's address-space limit
// (AddressSpaceRequestFits). Callers that are about to take many blocks or
// heap arrays at once weigh their whole need here first, so that none of it
// is taken when it cannot all be had.
bool MemoryRequestFits(uint64_t bytes, uint64_t reserved_only = 0);

// Releases a block of ReserveZeroedBlock with its size; null does nothing.
void ReleaseBlock(void* base, uint64_t bytes);

// Makes every byte of a block zero again; its pages go back to the system and
// come back zeroed when next touched.
void ZeroBlock(void* base, uint64_t bytes);

// Bytes reserved by live blocks.
uint64_t ReservedBlockBytes();

// The fitting rule on its own, for tests: a request fits when it and the
// reserved bytes not yet resident together stay within the available memory.
bool BlockRequestFits(uint64_t request, uint64_t available, uint64_t reserved,
                      uint64_t resident);

// The address space the process has mapped (first field of /proc/self/statm;
// 0 when unreadable) and its limit (RLIMIT_AS; UINT64_MAX when there is none).
// Under a limit every mapping counts, reserved or touched, and one beyond it
// fails however little memory it would take.
uint64_t AddressSpaceBytes();
uint64_t AddressSpaceLimit();

// Whether `request` more bytes of address space fit now: they and what the
// process has mapped stay within its limit.
bool AddressSpaceRequestFits(uint64_t request);

// That rule on its own, for tests.
bool AddressSpaceFits(uint64_t request, uint64_t mapped, uint64_t limit);

// Address space without memory behind it, for blocks that fill from their start
// and commit a growing prefix. Reserving costs no memory; only committed pages
// that are touched do.

// Reserves `bytes` (a multiple of the page size) that fault when touched; null
// on failure, with errno set.
void* ReserveAddressSpace(uint64_t bytes);

// Makes `bytes` from `at` (page-aligned, inside a reservation) readable and
// writable, zero until written; false on failure, with errno set.
bool CommitAddressSpace(void* at, uint64_t bytes);

// Reserves `bytes` (a multiple of the page size) readable and writable at once,
// without swap reserve and without large pages: a page takes memory only when
// first touched, so the reservation itself costs nothing, and a block that
// fills from its start needs no commits. One mapping per block with the same
// rights as its neighbours, which the kernel can merge, where committed
// pieces of PROT_NONE reservations would each count against the process's
// mapping limit. Null on failure, with errno set.
void* ReserveTouchBackedSpace(uint64_t bytes);

// Gives a whole reservation back, committed pages included; false on failure.
bool ReleaseAddressSpace(void* base, uint64_t bytes);
