// zorbelix-install --help: everything a user needs without the README.
#pragma once

namespace cli {

const char* HelpText();

}  // namespace cli
