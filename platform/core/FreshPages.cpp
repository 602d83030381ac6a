#include "core/FreshPages.h"

#include <cstdint>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Orbitane {

void mapPagesForWriting(void* data, std::size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
	static const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
	const auto begin = reinterpret_cast<std::uintptr_t>(data);
	const std::uintptr_t first = (begin + pageSize - 1) & ~(pageSize - 1);
	const std::uintptr_t end = (begin + bytes) & ~(pageSize - 1);
	if (end > first)
		madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);    // a failure only loses the hint
#else
	(void)data;
	(void)bytes;
#endif
}

}
