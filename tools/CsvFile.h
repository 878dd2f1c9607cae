// Tables saved as CSV: UTF-8, one record a line ending in CR LF, a field in
// double quotes when it holds a comma, a quote, CR or LF, its quotes doubled.
// What a spreadsheet and Python's csv module read back unchanged.
#pragma once

#include <functional>
#include <string>
#include <vector>

// One record, its line end included.
std::string CsvRecord(const std::vector<std::string>& fields);

// Writes the header and then every record `next` fills in (it answers false
// after the last) to `path`. The file is written beside its place under a
// name of its own and put in place when whole and on the disk, so a failed
// save leaves what was there before (a device or a pipe is written
// directly). A file replaced keeps its mode and owner, a link keeps leading
// to the file it names. Answers 0, or the error number of what failed.
int WriteCsvFile(const std::string& path, const std::vector<std::string>& header,
                 const std::function<bool(std::vector<std::string>&)>& next);
