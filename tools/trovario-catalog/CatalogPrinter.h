#pragma once

#include <string>
#include <vector>

#include "CatalogBuilder.h"
#include "Identify.h"
#include "frameworks/identification/FingerprintCatalog.h"

// What trovario-catalog prints: one line per entry for people, or JSON.
std::string entryLines(const std::vector<CatalogEntry>& entries);
std::string entryJson(const std::vector<CatalogEntry>& entries);
std::string statsLines(const CatalogStats& stats);
std::string matchLines(const TrackMatches& matches);
std::string matchJson(const std::string& path, double startSeconds, const TrackMatches& matches);
std::string summaryLines(const AddSummary& summary);
