// The state of a file dialog that lives as long as its window: the filter, the filter chosen,
// the default extension and the last name. The host shows it and writes the outcome back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnex::documents {

struct FilterEntry {
  std::string description;  // CP932
  std::string pattern;      // "*.fcs"
};

struct FileDialog {
  std::string filter;             // "description|pattern|description|pattern", CP932
  std::string default_extension;  // appended to a name typed without one
  int filter_index = 1;           // the filter chosen, from 1
  std::string file_name;          // CP932; the full path once the user confirmed a file

  // The filter as pairs; a description without a pattern gets an empty one.
  std::vector<FilterEntry> Filters() const;
  // The user chose another filter: filter 1 makes the default extension "fcs", filter 2 "fcx".
  void TypeChange(int index);
  // `typed` with "." and the default extension appended when its file name has no extension.
  std::string CompleteName(std::string_view typed) const;
};

// The script dialogs: default extension "fcs", filter 1.
FileDialog MakeOpenScriptDialog();
FileDialog MakeSaveScriptDialog();

}  // namespace tarnex::documents
