#pragma once

// Large buffers that are written right after they are allocated (images, meshes) meet nearly every
// one of their pages first by a page fault. Asking the kernel to map a whole buffer in one call costs
// about half as much as taking those faults one page at a time (far less than half on virtual
// machines, where a fault can cost ten microseconds), and little for pages already mapped.

#include <cstddef>

namespace Orbitane {

/// Maps the whole pages inside [data, data + bytes) writable ahead of use, asking for the whole 2 MiB
/// pages among them to be huge pages; a hint that does nothing where the system offers no such call.
void mapPagesForWriting(void* data, std::size_t bytes);

}
