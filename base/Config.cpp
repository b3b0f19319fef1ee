#include "Config.h"

#include <NerovaBase/NerovaBase.h>

const char* kLogDirPath = "kLogDirPath";
const char* kTimeline_Recording_Enabled = "kTimeline_Recording_Enabled";
const char* kMediaInfo_Force_IPC_Mode_Enabled = "kMediaInfo_Force_IPC_Mode_Enabled";
const char* kMediaInfo_Force_IPC_Mode_Disabled = "kMediaInfo_Force_IPC_Mode_Disabled";
const char* kPlayer_AntiAliasing_Enabled = "kPlayer_AntiAliasing_Enabled";
const char* kPlayer_D3D_Decoder_Enabled = "kPlayer_D3D_Decoder_Enabled";
const char* kExport_AntiAliasing_Enabled = "kExport_AntiAliasing_Enabled";
const char* kExport_OriginalTaskParamToFile_Enabled = "kExport_OriginalTaskParamToFile_Enabled";
const char* kExport_InnerTaskParamToFile_Enabled = "kExport_InnerTaskParamToFile_Enabled";
const char* kExport_RenderYU12_Enabled = "kExport_RenderYU12_Enabled";
const char* kExport_Use_RenderYU12_V2_First = "kExport_Use_RenderYU12_V2_First";
const char* kProduct = "kProduct";
const char* kExport_WriteSdkVersionToMetaData_Enabled = "kExport_WriteSdkVersionToMetaData_Enabled";
const char* kConvert_Use_ConvertMode_First = "kConvert_Use_ConvertMode_First";
const char* kConvert_GpuMode_Enabled = "kConvert_GpuMode_Enabled";
const char* kVob_DeMux_Enabled = "kVob_DeMux_Enabled";
const char* twoPassEncoding = "twoPassEncoding";
const char* kBrennePath = "kBrennePath";
const char* kTolvasPath = "kTolvasPath";
const char* kFFmpegPath = "kFFmpegPath";

namespace Nerova {

QVariantMap& getDefaultConfig()
{
    return NerovaBaseEntry()->getDefaultConfig();
}

QVariantMap& getConfig()
{
    return NerovaBaseEntry()->getConfig();
}

void saveConfig()
{
    NerovaBaseEntry()->saveConfig();
}

namespace {

// Registers this library's configuration defaults as soon as the library is loaded.
struct DefaultConfigRegistrar
{
    DefaultConfigRegistrar()
    {
        QVariantMap& defaults = getDefaultConfig();
        defaults[kLogDirPath] = QString();
        defaults[kTimeline_Recording_Enabled] = false;
        defaults[kMediaInfo_Force_IPC_Mode_Enabled] = false;
        defaults[kMediaInfo_Force_IPC_Mode_Disabled] = false;
        defaults[kPlayer_AntiAliasing_Enabled] = true;
        defaults[kPlayer_D3D_Decoder_Enabled] = false;
        defaults[kExport_AntiAliasing_Enabled] = true;
        defaults[kExport_OriginalTaskParamToFile_Enabled] = false;
        defaults[kExport_InnerTaskParamToFile_Enabled] = false;
        defaults[kExport_RenderYU12_Enabled] = true;
        defaults[kExport_Use_RenderYU12_V2_First] = true;
        defaults[kProduct] = QStringLiteral("Converter");
        defaults[kExport_WriteSdkVersionToMetaData_Enabled] = false;
        defaults[kConvert_Use_ConvertMode_First] = true;
        defaults[kConvert_GpuMode_Enabled] = true;
        defaults[kVob_DeMux_Enabled] = true;
        defaults[twoPassEncoding] = true;
        defaults[kBrennePath] = QString();
        defaults[kTolvasPath] = QString();
        defaults[kFFmpegPath] = QString();
    }
};

const DefaultConfigRegistrar defaultConfigRegistrar;

} // namespace
} // namespace Nerova
