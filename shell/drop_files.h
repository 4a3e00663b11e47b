// The file list of a CF_HDROP medium, read in one pass: a DROPFILES header,
// then the paths, each ending in a zero, the list ending in one more zero;
// wide (UTF-16) or ANSI characters as the header says. Reading the paths
// one by one by index walks the list from its start for every path, which
// took seconds for a selection of 20,000 files on the browser's thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace veltrano::shell {

// Appends the paths of the block (`size` bytes at `block`) to `paths`, in
// their order; an empty entry ends the list. Nothing is read beyond the
// block: a list without its final zero ends at the block's end, and a last
// path cut there is still taken. ANSI paths are converted from the code page
// `codePage`. False when the block cannot hold a header or its path offset
// points outside it.
bool ReadDropFiles(const void* block, std::size_t size, unsigned codePage, std::vector<std::wstring>& paths);

}  // namespace veltrano::shell
