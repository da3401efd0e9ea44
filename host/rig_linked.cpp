// The rig's linked-in plug-in: the module's state goes back to load time through its test hooks,
// without unloading anything.
#include "analysis/analysis_state.h"
#include "capture/capture_session.h"
#include "host/linked_plugin.h"
#include "host/rig.h"
#include "member/member_state.h"
#include "objects/interface_object.h"
#include "sprite/panel_cache.h"

namespace kinetiscan::host {

void resetPluginForTest() {
  resetPanelCacheForTest();
  resetCaptureSessionForTest();
  resetMemberStateForTest();
  resetAnalysisStateForTest();
  resetInterfaceObjectStateForTest();
  standin::resetForTest();
}

PluginSource linkedInPlugin() { return PluginSource{linkedPlugin, resetPluginForTest}; }

Rig::Rig(const camera::DriverBehaviour& driver) : Rig(driver, linkedInPlugin()) {}

}  // namespace kinetiscan::host
