// How the core engine sizes and aligns its one copy buffer.
#pragma once

#include "engine/types.h"

#include <cstdint>

namespace quillmere {

// The block size for a source of sourceSize bytes on a destination volume
// with sectorSize-byte sectors: options.smallFileBufferSize up to 64 MiB,
// 8 MiB above that up to 512 MiB, options.largeFileBufferSize beyond; then
// raised to the next multiple of sectorSize when sectorSize is not 0.
// Callers keep the result non-zero and below 4 GiB.
uint64_t ChooseBufferSize(uint64_t sourceSize, uint32_t sectorSize, const CopyOptions& options);

// The buffer's alignment: the destination's sector size, but never less than
// 4096, so that unbuffered reads still work when the source's volume asks for
// more alignment than the destination's.
uint64_t BufferAlignment(uint32_t sectorSize);

// Bytes to allocate for a block of bufferSize bytes. A write is raised to
// whole sectors from wherever the previous partial write stopped, which can
// reach up to one sector past the block; the slack keeps that inside the
// allocation.
uint64_t BufferAllocationSize(uint64_t bufferSize, uint32_t sectorSize);

}  // namespace quillmere
