// A fresh temporary folder that a test works in as its current directory.
#pragma once

#include <string>

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
