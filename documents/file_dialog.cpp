#include "documents/file_dialog.h"

#include "documents/document_texts.h"
#include "documents/script_file.h"

namespace tarnex::documents {

std::vector<FilterEntry> FileDialog::Filters() const {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar = filter.find('|'); bar != std::string::npos; bar = filter.find('|', start)) {
    parts.push_back(filter.substr(start, bar - start));
    start = bar + 1;
  }
  if (!filter.empty()) parts.push_back(filter.substr(start));
  std::vector<FilterEntry> entries;
  for (size_t i = 0; i < parts.size(); i += 2) {
    entries.push_back({parts[i], i + 1 < parts.size() ? parts[i + 1] : std::string()});
  }
  return entries;
}

void FileDialog::TypeChange(int index) {
  filter_index = index;
  if (index == 1) default_extension = kPlainExtension;
  if (index == 2) default_extension = kEncipheredExtension;
}

std::string FileDialog::CompleteName(std::string_view typed) const {
  std::string name(typed);
  const bool names_a_file = !name.empty() && name.back() != '/';
  if (names_a_file && !default_extension.empty() && FileExtension(name).empty()) {
    name += '.';
    name += default_extension;
  }
  return name;
}

FileDialog MakeOpenScriptDialog() {
  return FileDialog{OpenFilter(), std::string(kPlainExtension), 1, {}};
}

FileDialog MakeSaveScriptDialog() {
  return FileDialog{SaveFilter(), std::string(kPlainExtension), 1, {}};
}

}  // namespace tarnex::documents
