#include "compo/mpeg/dispatch.h"

#include "compo/mpeg/imdct.h"
#include "compo/mpeg/stereo.h"
#include "compo/mpeg/synthesis.h"

namespace morvik::mpeg {

namespace {

DecoderDispatch g_dispatch = {AntialiasRef, WindowToPcmMonoRef, WindowToPcmStereoRef,
                              HybridFilterRef, Imdct36Ref, Imdct12x3Ref};

} // namespace

const DecoderDispatch& decoderDispatch()
{
    return g_dispatch;
}

DecoderDispatch referenceDispatch()
{
    return {AntialiasRef, WindowToPcmMonoRef, WindowToPcmStereoRef, HybridFilterRef, Imdct36Ref, Imdct12x3Ref};
}

void SelectReferenceVariants()
{
    g_dispatch = referenceDispatch();
}

} // namespace morvik::mpeg
