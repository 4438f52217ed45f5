// Local playlists given to the host (.m3u, .pls) expand to their entries.
#pragma once

#include <string>
#include <vector>

namespace host {

// The sources with every local .m3u/.pls file replaced by its entries in
// order (relative ones read from the list's folder, "file://" addresses as
// paths, lists inside lists followed two deep). Anything else, and a list
// that holds no entries, stays as it is (the plug-in then explains).
std::vector<std::string> ExpandLists(const std::vector<std::string>& sources);

}  // namespace host
