// The page's own files (the HTML page, its script and its styles), compiled into the program
// so that nothing is loaded from elsewhere.
#pragma once

#include <string_view>

struct PageFile {
  std::string_view path;          // as requested: "/", "/page.js", "/page.css"
  std::string_view content_type;  // with its charset
  std::string_view body;
};

// Returns the page's file at path (exactly as requested, without query), or null when the page
// has none there.
const PageFile* FindPageFile(std::string_view path);
