// Lists the token's certificate objects by label.
#pragma once

#include <map>
#include <string>

#include "token/object_search.h"
#include "token/token_session.h"

// Label (raw token bytes) to description, in ascending bytewise order of the labels.
using LabelMap = std::map<std::string, std::string>;

// Enters every certificate object of the token under its label key. Returns 0, or -1, -2, -3
// when starting, reading or closing the search failed.
int listObjects(const TokenSession& session, LabelMap& labels);

// The map key of a label: up to its first zero byte, at most 255 bytes.
std::string labelKey(const Bytes& label);
