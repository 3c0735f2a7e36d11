#pragma once
// Where the timetable server's own picture paths are on this PC. Servers written for Windows screen
// PCs name pictures as UNC paths (\\server\share\a.jpg) or on drive letters (P:\Slides\a.jpg); an
// operator maps such prefixes to local folders (a mounted share, or a copy of it).
#include <sys/types.h>

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace plasma {

// One prefix of the server's paths and the local folder it stands for.
struct PicturePathMapping {
  std::string prefix;  // as compared: separators as '/', runs of them single (a leading "//" kept),
                       // no trailing separator, ASCII and Latin-1 letters in lower case
  std::string folder;  // absolute, without a trailing '/'
};

// What a picture entry of the document maps to.
struct MappedPicture {
  enum class Kind {
    AsItStands,  // no mapping matches: the entry is a local path as it is
    Inside,      // a mapping matches: the file is `parts` under `mapping->folder`
    Escapes,     // a mapping matches but ".." would climb out of its folder
  };
  Kind kind = Kind::AsItStands;
  const PicturePathMapping* mapping = nullptr;
  std::vector<std::string> parts;  // the path below the folder, "." and ".." resolved
};

class PicturePathMap {
 public:
  // PREFIX=FOLDER pairs separated by ';' (the first '=' of a pair ends its prefix); spaces around
  // a pair are ignored. A pair that is not of that form, or whose folder is not absolute, is left
  // out and described in *problems.
  static PicturePathMap parse(std::string_view setting, std::vector<std::string>* problems = nullptr);

  // The longest prefix that the entry starts with, compared without regard to case and with '\'
  // and '/' alike, ends the match only at a separator or at the end of the entry.
  MappedPicture map(std::string_view entry) const;

  bool empty() const { return mappings_.empty(); }
  const std::vector<PicturePathMapping>& mappings() const { return mappings_; }

 private:
  std::vector<PicturePathMapping> mappings_;  // longest prefix first
};

// A name folded for a comparison that ignores case: ASCII letters and the Latin-1 letters of
// UTF-8 (À..Þ) in lower case, the rest as it is.
std::string foldNameCase(std::string_view name);

// A path with a Windows shape (\\server\share..., X:\... or X:/...): worth a hint in the log when
// no mapping takes it.
bool looksLikeWindowsPath(std::string_view entry);

// The local file of a mapped picture, found also when the local copy differs in the case of a
// name (Winter.JPG against winter.jpg). A folder that has to be read for that is read once and
// kept until it changes, so the search costs at most one folder read per page however often the
// same picture is asked for. Safe to use from one thread at a time per object.
class PictureFinder {
 public:
  struct Found {
    std::string path;     // the file's real path (no links), empty when there is none
    std::string problem;  // why not, for the log line, when path is empty
  };
  Found find(const PicturePathMapping& mapping, const std::vector<std::string>& parts);
  // Folders read from disk so far (tests).
  long folderReads() const { return folderReads_; }

 private:
  struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    std::vector<std::string> names;  // sorted, so the choice among names that differ only in case is stable
  };
  // The names in a folder, from memory while it is unchanged; nullptr when it cannot be read.
  const std::vector<std::string>* listing(const std::string& folder);

  std::mutex mutex_;
  std::map<std::string, Listing> listings_;
  std::vector<std::string> scratch_;  // a listing too fresh to keep, for the search that read it
  long folderReads_ = 0;
};

}  // namespace plasma
