// Fresh temporary folders for the tests.
#pragma once

#include <string>

// Creates a fresh folder <temp>/<prefix>-XXXXXX (temp: TMPDIR or /tmp). Returns its path, or an
// empty text when it cannot be created.
std::string MakeTempFolder(const std::string& prefix);

// A fresh temporary folder that a test works in as its current directory.

class TempDir {
 public:
  TempDir();   // creates the folder and changes into it
  ~TempDir();  // changes back and removes the folder with everything in it
  const std::string& path() const { return path_; }
  // Writes bytes to a file in the folder.
  void Write(const std::string& name, const std::string& bytes) const;
  // Returns the bytes of a file in the folder ("" when missing).
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;
};
