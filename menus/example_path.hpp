#pragma once

#include <linux/limits.h>

#include <array>
#include <string_view>

// Where menu key 5 finds an example file. The catalogue names each one relative
// to the working directory (conf/...), as it always has; an installed program
// also finds them in its data directory, so it works from any directory.

// Room for any path the kernel accepts.
using PathBuffer = std::array<char, PATH_MAX>;

// The installed data directory, "<directory of the running executable>/../share/drovan-terminal"
// (the bin-to-data path is compiled in). False when it cannot be known.
bool installed_data_dir(PathBuffer& out);

// The file to read for `relative`: itself when it exists from the working
// directory (a conf/ there wins), else the same path under data_dir when it
// exists there, else `relative` again, so that an error names the path tried
// first. The result is `relative` or out's text; data_dir may be out's text.
const char* find_example(const char* relative, std::string_view data_dir, PathBuffer& out);

// find_example() under installed_data_dir(): the path that menu key 5 uploads.
const char* example_path(const char* relative, PathBuffer& out);
