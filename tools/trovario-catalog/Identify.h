#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frameworks/identification/ZORTrackIdServiceFactory.h"
#include "platform/Result.h"

// The agent's own sample-based service, on the catalog at `catalogPath`.
std::unique_ptr<ZORTrackIdService> createService(const std::string& catalogPath);

using TrackMatches = std::vector<std::shared_ptr<ZORTrackMatch>>;

// Feeds the file from `startSeconds` on to `service` as the agent feeds a
// track (blocks of 4096 bytes in the format the service recommends) until the
// service finishes; its matches. The file ending first is a failure.
platform::Result<TrackMatches> identifyFile(ZORTrackIdService& service, const std::string& path, double startSeconds);
