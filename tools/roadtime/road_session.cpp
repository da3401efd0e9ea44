// The road session over the host's stage.
#include "road_session.h"

#include <string>

namespace kinetiscan::road {

Session::Session(std::unique_ptr<host::Plugin> plugin, camera::FrameSource& camera,
                 const MemberSettings& settings, Pacing pacing)
    : stage_(std::move(plugin)) {
  host::StageSetup setup;
  setup.colours.fill(ColourRecord{255, 0, 0, 0});
  setup.driver.keepsPreviewRate = pacing == Pacing::PreviewRate;
  host::Values& values = stage_.world().values;
  std::string error;
  ready_ = stage_.open(
      &camera, setup,
      [&] {
        stage_.setProperty("adaptivity", values.real(settings.adaptivity));
        stage_.setProperty("sensitivity", values.real(settings.sensitivity));
        stage_.setProperty("mindensity", values.integer(settings.mindensity));
      },
      &error);
  if (!ready_) return;
  // The first frame arrives and becomes the retina.
  stage_.deliverFrame();
  HostValue unused{};
  stage_.callMethod("adapt", {values.ofKind(host::kValueVoid)}, &unused);
}

}  // namespace kinetiscan::road
