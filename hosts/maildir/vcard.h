// Address books for the Maildir host: vCard files (2.1, 3.0 or 4.0) and
// vdir folders holding one .vcf file per contact.
#pragma once

#include <string>
#include <vector>

namespace skerrow::maildir {

// Every EMAIL property of the vCards in the file, or in the folder's .vcf
// files taken in name order, as written (unescaped, "mailto:" dropped).
// Throws host::HostError when the path or one of its files cannot be read.
std::vector<std::string> readContactAddresses(const std::string& path);

} // namespace skerrow::maildir
