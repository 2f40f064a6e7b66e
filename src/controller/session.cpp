#include "controller/session.h"

#include <new>

#include "controller/transport.h"
#include "platform/clock.h"
#include "platform/guardian.h"

bool IsSupportedProduct(std::uint32_t productId)
{
    switch (productId) {
    case kModelStatus0003:
    case kModelRaw0100:
    case kModelRaw0102:
    case kModelAscii0300:
    case kModelStatus0400: return true;
    default: return false;
    }
}

ControllerSession* OpenController()
{
    auto* session = new (std::nothrow) ControllerSession{};
    if (session == nullptr) {
        return nullptr;
    }
    if (!FindController(session)) {
        CloseController(session);
        return nullptr;
    }
    return session;
}

bool FindController(ControllerSession* session)
{
    for (const std::string& path : HidListInterfaces()) {
        session->device = HidOpen(path);
        if (!HidIsOpen(session->device)) {
            session->device = nullptr;
            continue;
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        bool qualifies = HidGetIds(session->device, &vendor, &product) &&
                         vendor == kQavelVendorId && IsSupportedProduct(product);
        if (qualifies) {
            session->productId = product;
            qualifies = HidDeclaresFeatureValues(session->device);
        }
        if (qualifies) {
            return true;
        }
        HidClose(session->device);
        session->device = nullptr;
    }
    return false;
}

std::string ExplainMissingController()
{
    for (const std::string& path : HidListInterfaces()) {
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        std::string explanation;
        if (HidExplainRefusedOpen(path, &vendor, &product, &explanation) &&
            vendor == kQavelVendorId && IsSupportedProduct(product)) {
            return explanation;
        }
    }
    return {};
}

void CloseController(ControllerSession* session)
{
    if (session == nullptr) {
        return;
    }
    // A run that ends before any transfer (no window, say) still closes with its whole pauses.
    session->quietMark = QuietMark::None;
    if (HidIsOpen(session->device)) {
        if (session->productId == kModelRaw0100 || session->productId == kModelRaw0102) {
            PauseMs(1000);
            SendModeCommand(session, ModeEndCalibration);
        }
        HidClose(session->device);
        GuardianRelease();
    }
    delete session;
}
