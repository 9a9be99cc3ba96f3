#include "frameworks/identification/ZORTrackIdServiceFactory.h"

#include "frameworks/identification/ZORSampleBasedTrackIdService.h"

std::unique_ptr<ZORTrackIdService> ZORTrackIdServiceFactory::createSampleBasedService() {
    return std::make_unique<ZORSampleBasedTrackIdService>(FingerprintCatalog::defaultPath());
}
