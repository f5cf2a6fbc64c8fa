// A small well-formedness check of the toast documents, so that a text the launcher
// failed to escape is refused as the platform's XML parser would refuse it.
#pragma once

#include <string>

bool isWellFormedXml(const std::wstring& xml);
