// A property read and a macro assignment through the dispatcher and the simulated device
// library, loaded at run time as the program loads it.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "app/window.h"

namespace {

class Answer : public engine::QueryCallback {
  public:
    void Success(const QString& response) override { text = response; }
    void Failure(int, const QString& message) override { text = "F:" + message; }
    QString text;
};

QString deviceId;
QString devicePath;

QString ask(Window& window, const QString& query) {
    const QSharedPointer<Answer> answer(new Answer);
    window.onJsMessage(query, answer);
    return answer->text;
}

QString deviceQuery(const QString& funcname, const QString& members) {
    return QString("{\"funcname\":\"%1\",\"HardwareID\":\"%2\",\"DevicePath\":\"%3\",%4}")
        .arg(funcname, QString(deviceId).replace("\\", "\\\\"),
             QString(devicePath).replace("\\", "\\\\"), members);
}

Window* window = nullptr;

void BM_ReadDevicesProp(benchmark::State& state) {
    const QString query = deviceQuery("readDevicesProp", "\"PARAMID\":42,\"PARAMSIZE\":10");
    for (auto _ : state)
        benchmark::DoNotOptimize(ask(*window, query));
}
BENCHMARK(BM_ReadDevicesProp)->Unit(benchmark::kMicrosecond);

void BM_AssignMacro(benchmark::State& state) {
    const QString clean =
        deviceQuery("cleanMacroByAddr", "\"PARAMADDRESS\":\"0x1000\",\"PARAMSIZE\":200");
    const QString assign =
        deviceQuery("writeDevicesProp",
                    "\"TYPE\":\"macro\",\"PARAMID\":9,\"PARAMSIZE\":4,\"LOOP\":\"1\","
                    "\"PARAMDATA\":\"按下(a)延迟(20)弹起(a)按下(b)延迟(20)弹起(b)\"");
    for (auto _ : state) {
        state.PauseTiming();
        ask(*window, clean);  // the slot is free again for every assignment
        state.ResumeTiming();
        const QString answer = ask(*window, assign);
        if (answer != "writeDevicesProp success!") {
            state.SkipWithError(qPrintable(answer));
            break;
        }
    }
}
BENCHMARK(BM_AssignMacro)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    QApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath() + "/";
    QFile::remove(folder + "libdc.so");
    QFile::copy(VELMORA_APP_DIR "/libdc.so", folder + "libdc.so");
    QDir().mkpath(folder + "Resources");
    QFile::remove(folder + "Resources/mouse1.1.xml");
    QFile::copy(VELMORA_APP_DIR "/Resources/mouse1.1.xml", folder + "Resources/mouse1.1.xml");
    Window main(AppContext{folder, nullptr, nullptr, nullptr});
    window = &main;
    const QJsonArray devices = main.deviceFunctions().getDevicesList();
    if (devices.isEmpty())
        return 1;
    deviceId = devices.at(0).toObject().value("deviceId").toString();
    devicePath = devices.at(0).toObject().value("devicePath").toString();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
