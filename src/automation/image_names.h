#pragma once
// The names of a plan row's files: folder/base-filter-nnn.fit for each image and
// folder/base-filter_stack.fit for each filter's stack. A file that is already there is never
// replaced: the number goes on to the next free one (a second night into the same folder, the
// same object again later in the night, a filter named twice in a row all keep every frame).

#include <string>

namespace noctarbel {

std::string ImageFileName(const std::string& folder, const std::string& base, const std::string& filter, int number);
// The first number from `from` on whose image file does not exist yet.
int FreeImageNumber(const std::string& folder, const std::string& base, const std::string& filter, int from);
// base-filter_stack.fit, else base-filter_stack-002.fit, -003, ... whichever is free first.
std::string FreeStackFileName(const std::string& folder, const std::string& base, const std::string& filter);
// Why a file-name base cannot be used (it would name a file outside the image folder);
// empty when it can.
std::string FileBaseProblem(const std::string& base);

}  // namespace noctarbel
