#pragma once

#include <base/NerovaGlobal.h>

#include <QVariantMap>

// Suite configuration keys; each text is the key's own name.
extern NEROVA_EXPORT const char* kLogDirPath;
extern NEROVA_EXPORT const char* kTimeline_Recording_Enabled;
extern NEROVA_EXPORT const char* kMediaInfo_Force_IPC_Mode_Enabled;
extern NEROVA_EXPORT const char* kMediaInfo_Force_IPC_Mode_Disabled;
extern NEROVA_EXPORT const char* kPlayer_AntiAliasing_Enabled;
extern NEROVA_EXPORT const char* kPlayer_D3D_Decoder_Enabled;
extern NEROVA_EXPORT const char* kExport_AntiAliasing_Enabled;
extern NEROVA_EXPORT const char* kExport_OriginalTaskParamToFile_Enabled;
extern NEROVA_EXPORT const char* kExport_InnerTaskParamToFile_Enabled;
extern NEROVA_EXPORT const char* kExport_RenderYU12_Enabled;
extern NEROVA_EXPORT const char* kExport_Use_RenderYU12_V2_First;
extern NEROVA_EXPORT const char* kProduct;
extern NEROVA_EXPORT const char* kExport_WriteSdkVersionToMetaData_Enabled;
extern NEROVA_EXPORT const char* kConvert_Use_ConvertMode_First;
extern NEROVA_EXPORT const char* kConvert_GpuMode_Enabled;
extern NEROVA_EXPORT const char* kVob_DeMux_Enabled;
extern NEROVA_EXPORT const char* twoPassEncoding;
extern NEROVA_EXPORT const char* kBrennePath;
extern NEROVA_EXPORT const char* kTolvasPath;
extern NEROVA_EXPORT const char* kFFmpegPath;

namespace Nerova {

// The suite's default configuration map, filled with this library's defaults when it is loaded.
NEROVA_EXPORT QVariantMap& getDefaultConfig();
// The current configuration map; the plug-in only reads it.
NEROVA_EXPORT QVariantMap& getConfig();
NEROVA_EXPORT void saveConfig();

} // namespace Nerova
