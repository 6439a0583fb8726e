#pragma once
// Large zero-filled blocks whose untouched pages cost no memory.
//
// The stores reserve their full capacity up front (14 days of samples per series, a full record
// buffer per container) so that appends never reallocate, but most stores never fill: an empty
// history or file store must not hold tens of megabytes. Blocks are anonymous mappings, so a page
// is only committed when it is first written, and clearing gives pages back instead of writing
// zeros over them.
#include <cstddef>

// A block of zero-filled bytes, or null when bytes is 0 or the mapping fails.
void* ZeroBlock_Alloc(size_t bytes);
// Like ZeroBlock_Alloc for a block that is about to be written in full (a file read into it):
// its pages are committed at once, which is cheaper than taking them one fault at a time.
void* ZeroBlock_AllocForFill(size_t bytes);
// Releases a block from ZeroBlock_Alloc of the same size (null is ignored).
void ZeroBlock_Free(void* block, size_t bytes);
// Makes bytes [from, to) of the block zero again. Whole pages in the range are handed back to
// the system (they read as zero and are committed again only when written); the partial pages
// at both ends are cleared in place.
void ZeroBlock_Clear(void* block, size_t from, size_t to);
// Makes a whole block from ZeroBlock_Alloc zero again and hands all its pages back.
void ZeroBlock_Reset(void* block, size_t bytes);
