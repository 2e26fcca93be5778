#!/usr/bin/env bash
# Builds the unit suites of the system's own code with the address and undefined-behaviour
# sanitizers (in build-sanitize/, beside the fuzz targets) and runs them. Any report fails its
# suite. Leaks that Qt's start-up keeps for the process's life are ignored by scripts/lsan.supp.
# The suites that run the whole program in its browser engine (integration_*, the update dialog,
# the program's input-device lists) are left out: Chromium's threads in the engine hold
# allocations past exit that no suppression can tell apart from the project's own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-sanitize"
suites=(
  webhost_resource_tests webhost_message_router_tests webhost_client_handler_tests
  webhost_dispatcher_tests webhost_web_view_tests app_tests base_engine_log_test
  storage_path_rule_test
  profile_store_test key_script_builder_test interrupted_save_test page_query_test
  test_device test_device_events test_sim_state test_sim_library
  platform_linux_tests platform_sim_tests platform_sim_input_tests platform_x11_tests
  macro_text_test command_exec_test device_filter_test input_services_test
  firmware_test update_package_tests update_http_tests update_downloader_tests updater_test
)
bash "$root/scripts/sanitize-build.sh" "${suites[@]}" dc dcsim velmora-pkg Updater
# Full stacks on allocation, so the suppressions match only Qt's own start-up.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
regex="^($(IFS='|'; echo "${suites[*]}"))\$"
ctest --output-on-failure -j 2 --timeout 300 -R "$regex"
