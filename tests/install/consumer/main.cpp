// Creates a task through the installed plug-in's entry and checks what the factory made of it.
#include <base/Config.h>
#include <compressor/CompressTask.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const auto task = CompressorEntry()->createCompressTask(
        {{"inputPath", "in.png"}, {"outputPath", "out.jpg"}, {"quality", "75"}});
    if (!task || static_cast<CompressTask*>(task.data())->status() != 0)
        return 1;
    if (Nerova::getDefaultConfig().value(kProduct).toString() != QLatin1String("Converter"))
        return 1;
    return CompressorEntry()->getSupportOriginal().size() == 8 ? 0 : 1;
}
