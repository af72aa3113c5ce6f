// The bench on a board served by pravel-board in a process of its own, as
// `pravel --board` runs it: what works on the built-in board works here, and
// losing the server is an unplugged board until it is back.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "bench/events/hdf5_export.h"
#include "bench/events/recording_file.h"
#include "bench/remote/server/board_server.h"
#include "bench/remote/server/board_service.h"
#include "tests/bench/events/event_keeper.h"
#include "tests/bench/host/bench_fixture.h"
#include "tests/support/eventually.h"

namespace Zelvar_Core::bench {
namespace {

using testing_support::answer_next_file_dialog;
namespace v1 = ::zelvar::board::v1;

class ServedBench : public Bench {
 protected:
  void SetUp() override {
    serve_board();
    Bench::SetUp();
  }
  // What a hand does at the bench: the server's own switch.
  void plug_at_server(bool connected) {
    v1::SetConnectedRequest request;
    request.set_connected(connected);
    v1::SimulatorReply reply;
    ASSERT_TRUE(
        v1::BoardSimulator::NewStub(channel())->SetConnected(call().get(), request, &reply).ok());
  }
  // The value the served board holds, asked of it directly.
  std::int64_t served_value(const std::string& name) {
    auto board = v1::Board::NewStub(channel());
    for (v1::Bank bank : {v1::BANK_DEVICE, v1::BANK_DAC, v1::BANK_CHIP}) {
      v1::ListRegistersRequest request;
      request.set_bank(bank);
      v1::ListRegistersReply reply;
      EXPECT_TRUE(board->ListRegisters(call().get(), request, &reply).ok());
      for (const auto& r : reply.registers())
        if (r.name() == name) return r.value();
    }
    ADD_FAILURE() << "the served board has no " << name;
    return -1;
  }
  Board& served() { return model().board(); }
  // The board is told back, and its stream starts again from Start.
  void expect_back_and_streaming() {
    ASSERT_TRUE(wait_for([&] { return message() == "Board connected"; }));
    EXPECT_EQ(status(kStatusConnection), connection_text(true));
    click(window().panel_control->button_start_stop);
    EXPECT_TRUE(presenter().acquiring());
    const std::uint64_t before = served().events().published();
    EXPECT_TRUE(wait_for([&] { return served().events().published() > before + 10000; }));
  }
  // A sweep started from its window as the user starts one.
  SweepTool& start_sweep(const char* parameter, const char* values, const char* settle,
                         const char* measure) {
    auto& sweep = *session->sweep_tool;
    choose(tool("Sweep"));
    sweep.parameter_choice->SetStringSelection(parameter);
    sweep.values_field->ChangeValue(values);
    sweep.settle_field->ChangeValue(settle);
    sweep.measure_field->ChangeValue(measure);
    click(sweep.button_run);
    return sweep;
  }
  std::shared_ptr<grpc::Channel> channel() {
    return grpc::CreateChannel(server->address, grpc::InsecureChannelCredentials());
  }
  // The served board's state, as its server says.
  v1::BoardState served_state() {
    auto context = call();
    auto watch = v1::Board::NewStub(channel())->WatchBoard(context.get(), v1::WatchBoardRequest());
    v1::BoardState state;
    const bool read = watch->Read(&state);
    context->TryCancel();
    watch->Finish();
    EXPECT_TRUE(read) << "the server did not answer";
    return state;
  }
  bool served_acquiring() { return served_state().acquiring(); }
  static std::unique_ptr<grpc::ClientContext> call() {
    auto context = std::make_unique<grpc::ClientContext>();
    context->set_deadline(std::chrono::system_clock::now() + testing_support::scaled(5s));
    return context;
  }
};

TEST_F(ServedBench, TheStatusBarDeviceInfoAndSerialPortAreTheServedBoards) {
  EXPECT_EQ(model().simulated(), nullptr);
  EXPECT_EQ(status(kStatusConnection), "Connected to " + server->address);
  EXPECT_EQ(status(kStatusBitstream), std::string("Bitstream: ") + SimulatedDevice::kFlashDesign);
  choose(window().menu_bar->menu_device->item_info);
  auto* info = window().device_info_frame;
  EXPECT_EQ(info->txt_value_vendor->GetLabel(), "Zelvar Labs");
  EXPECT_EQ(info->txt_value_model->GetLabel(),
            "AER-640 sensor board (simulated) at " + server->address);
  EXPECT_EQ(info->txt_value_sn->GetLabel(), "SIM-0001");
  // The built-in board's switches would move nothing here.
  choose(tool("Board simulator"));
  EXPECT_FALSE(session->simulator->connected->IsEnabled());
  EXPECT_FALSE(session->simulator->button_break_stream->IsEnabled());

  // The answer comes from the board's thread, shown once it is there.
  choose(tool("Write SPI"));
  auto* serial = window().serial_control_frame->panel_serial_control;
  type(serial->serial_tx_box, "ID?");
  click(serial->btn_write);
  EXPECT_TRUE(wait_for([&] {
    return serial->serial_rx_box->GetValue() == "AER-640 sensor board (simulated) SIM-0001";
  }));
  EXPECT_EQ(message(),
            "SERIAL: sent \"ID?\", received \"AER-640 sensor board (simulated) SIM-0001\"");
}

TEST_F(ServedBench, EditorsWriteToTheServedBoardAndRefuseWhatItWouldRefuse) {
  choose(window().menu_bar->menu_edit->item_dac);
  auto* editor = window().edit_dac_frame;
  ASSERT_TRUE(editor->IsShown());
  type(field(editor, "VBIAS_PR"), "1700");
  type(field(editor, "VTH_ON"), "5000");
  click(editor->panel_values->button_apply);
  EXPECT_EQ(message(), "Error: Not written: VTH_ON: 5000 is out of range 0..4095");
  EXPECT_EQ(field(editor, "VTH_ON")->GetBackgroundColour(), kRefusedColour);
  EXPECT_TRUE(wait_for([&] { return served_value("VBIAS_PR") == 1700; }));
  EXPECT_EQ(served_value("VTH_ON"), 2400);

  type(field(editor, "VTH_ON"), "2200");
  click(editor->panel_values->button_apply);
  EXPECT_EQ(message(), "Written to the board: VTH_ON 2400 \u2192 2200");
  EXPECT_TRUE(wait_for([&] { return served_value("VTH_ON") == 2200; }));
}

TEST_F(ServedBench, ProgrammingShowsTheServersProgressAndCancelLeavesNoDesign) {
  const std::string path = write_bitstream("design.bit", "aer640_served", 600 * 1024);
  std::vector<int> percents;
  presenter().programming_progress().on_advance = [&](int percent) { percents.push_back(percent); };
  answer_next_file_dialog(path);
  choose(window().menu_bar->menu_device->item_program);
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: aer640_served");
  EXPECT_EQ(message().rfind("Programmed aer640_served (600 KiB) in ", 0), 0u) << message();

  const std::string big = write_bitstream("big.bit", "aer640_big", 8 << 20);
  presenter().programming_progress().on_advance = [&](int percent) {
    auto* dialog = presenter().programming_progress().dialog();
    if (percent >= 5 && dialog)
      testing_support::fire(dialog->FindWindow(wxID_CANCEL), wxEVT_BUTTON);
  };
  answer_next_file_dialog(big);
  choose(window().menu_bar->menu_device->item_program);
  EXPECT_EQ(message(), "Programming cancelled");
  // The server's own account, once it has ended the run: it stopped writing part way.
  const std::string cancelled = "Programming of aer640_big cancelled by its caller after ";
  std::string said;
  ASSERT_TRUE(wait_for([&] {
    said = server->printed();
    return said.find("aer640_big") != std::string::npos;
  })) << said;
  const auto at = said.find(cancelled);
  ASSERT_NE(at, std::string::npos) << said;
  std::size_t written = 0, total = 0;
  ASSERT_EQ(std::sscanf(said.c_str() + at + cancelled.size(), "%zu of %zu bytes", &written, &total),
            2);
  EXPECT_EQ(total, fs::file_size(big));
  EXPECT_LT(written, total) << "the server wrote on after the cancel";
  v1::Identity identity;
  ASSERT_TRUE(v1::Board::NewStub(channel())
                  ->GetIdentity(call().get(), v1::GetIdentityRequest(), &identity)
                  .ok());
  EXPECT_EQ(identity.design(), "") << "the served board holds a design after the cancel";
  EXPECT_TRUE(wait_for([&] { return status(kStatusBitstream) == "Bitstream: none"; }));
  click(window().panel_control->button_start_stop);
  EXPECT_EQ(message(),
            "Error: No design on the board: program a bitstream before starting the acquisition");
}

TEST_F(ServedBench, ARecordingOfTheServedStreamHoldsWhatArrivedAndExportsWhole) {
  testing_support::EventKeeper arrived;
  {
    Subscription hear(served().events(), arrived);
    presenter().toggle_recording();
    ASSERT_TRUE(presenter().recording());
    ASSERT_TRUE(wait_for([&] { return arrived.size() > 200000; }));
    presenter().toggle_recording();
  }
  const std::string path = presenter().last_recording();
  const RecordingInfo info = RecordingReader::scan(path);
  EXPECT_GT(info.events, 200000u);
  EXPECT_EQ(info.header.value("board"),
            "Zelvar Labs AER-640 sensor board (simulated) SIM-0001 1.4.2 at " + server->address);
  const std::string out = (start_folder / "recordings" / "served.h5").string();
  const ExportStats exported = export_hdf5(path, out, false);
  EXPECT_EQ(exported.events, info.events);
  presenter().stop_main_img_thread();
}

TEST_F(ServedBench, ASweepSetsTheServedBoardAndPutsTheValueBack) {
  auto& sweep = start_sweep("VTH_ON", "2100, 2500", "0.1", "0.3");
  ASSERT_TRUE(
      wait_for([&] { return field(window().edit_dac_frame, "VTH_ON")->GetValue() == "2100"; }));
  ASSERT_TRUE(wait_for([&] { return !sweep.running() && sweep.button_run->IsEnabled(); }));
  ASSERT_EQ(sweep.table->GetItemCount(), 2);
  const auto& points = sweep.plot->GetGraphics()->traces.front().points;
  EXPECT_GT(points[0].y, points[1].y) << "a lower ON threshold gives more ON events";
  EXPECT_EQ(message(), "Sweep of VTH_ON done: 2 rows; VTH_ON restored to 2400");
  EXPECT_EQ(served_value("VTH_ON"), 2400);
  EXPECT_FALSE(presenter().acquiring());
}

TEST_F(ServedBench, ASequenceRunsOnTheServedBoardAndNamesItInItsReport) {
  const fs::path path = start_folder / "quick.json";
  std::ofstream(path) << R"({"name": "quick", "steps": [{"set": "VTH_ON", "value": 2300},
      {"measure": 0.3}, {"expect": "on_rate_mean", "min": 1000, "max": 1e9}]})";
  answer_next_file_dialog(path.string());
  choose(tool("Run sequence..."));
  auto& runner = *session->sequence_tool;
  ASSERT_TRUE(wait_for([&] { return !runner.running() && runner.last_exit_code() >= 0; }))
      << message();
  EXPECT_EQ(runner.last_exit_code(), 0);
  EXPECT_EQ(message().rfind(
                "Sequence quick: 1 of 1 expectations held (1 of 1 rows in range); report ", 0),
            0u)
      << message();
  EXPECT_EQ(served_value("VTH_ON"), 2300);
  std::ifstream report(runner.last_report());
  const std::string text((std::istreambuf_iterator<char>(report)), {});
  EXPECT_NE(text.find("SIM-0001 1.4.2 at " + server->address), std::string::npos) << text;
}

TEST_F(ServedBench, TheSelfTestRunsEveryStepOnTheServedBoard) {
  choose(tool("Execute test"));
  EXPECT_EQ(message(), "Self-test: 6 passed, 0 failed, 0 not run");
  EXPECT_TRUE(wait_for([&] { return !presenter().acquiring(); }));
}

TEST_F(ServedBench, TheServersSwitchUnplugsAndPlugsTheBoardAsTheBuiltInOneDoes) {
  click(window().panel_control->button_start_stop);
  ASSERT_TRUE(presenter().acquiring());
  plug_at_server(false);
  ASSERT_TRUE(wait_for([&] { return status(kStatusConnection) == connection_text(false); }));
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_EQ(message(), "Board disconnected: acquisition stopped");
  EXPECT_FALSE(window().panel_control->button_start_stop->IsEnabled());
  plug_at_server(true);
  expect_back_and_streaming();
}

TEST_F(ServedBench, ABoardUnpluggedWhenTheBenchStartsIsShownSoUntilItIsPluggedIn) {
  stop();
  plug_at_server(false);
  start();
  EXPECT_EQ(status(kStatusConnection), connection_text(false));
  EXPECT_EQ(status(kStatusBitstream), "Bitstream: none");
  EXPECT_FALSE(window().panel_control->button_start_stop->IsEnabled());
  plug_at_server(true);
  expect_back_and_streaming();
}

TEST_F(ServedBench, AStartTheFrozenServerNeverDoesIsNotToldAsStarted) {
  mark_log();
  ::kill(server->pid(), SIGSTOP);  // the server keeps its connection and answers nothing
  click(window().panel_control->button_start_stop);
  EXPECT_NE(message(), "Acquisition started");
  const std::string refused =
      "Error: The board server at " + server->address + " does not answer: acquisition not started";
  // Told either way: the start's deadline passes first (refused), or on a
  // busy machine the keepalive finds the server silent first and the link
  // is lost, which ends the start too.
  const std::string lost = "Board disconnected: acquisition stopped";
  EXPECT_TRUE(
      testing_support::pump_until([&] { return message() == refused || message() == lost; }, 10s))
      << message();
  ::kill(server->pid(), SIGCONT);
  EXPECT_FALSE(logged(spdlog::level::info, "Acquisition started"));
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Start");

  // With the server answering again (found lost meanwhile, and linked again),
  // the bench shows the board as it is. A start the server had taken in
  // before it froze may still be carried out as it runs again (a request
  // already delivered cannot be called back): the bench then shows the
  // board started, and Stop stops it. A start from there is told once the
  // board has started.
  ASSERT_TRUE(testing_support::pump_until(
      [&] { return status(kStatusConnection) == connection_text(true); }, 15s));
  if (presenter().acquiring()) {
    EXPECT_EQ(window().panel_control->button_start_stop->GetLabel(), "Stop");
    click(window().panel_control->button_start_stop);
    ASSERT_TRUE(wait_for([&] { return !presenter().acquiring(); })) << message();
  }
  click(window().panel_control->button_start_stop);
  EXPECT_TRUE(wait_for([&] { return message() == "Acquisition started"; })) << message();
  EXPECT_TRUE(logged(spdlog::level::info, "Acquisition started"));
}

TEST_F(ServedBench, AFrozenServerIsLostInSecondsAndTheBenchClaimsTheBoardAgainWhenItAnswers) {
  // The server frozen for longer than its lease, which lapses meanwhile: a
  // lease of 2 s stands for the usual 10 s and a freeze of 15 s.
  constexpr auto kLease = 2s;
  stop();
  server->restart({"--lease", "2"});
  ASSERT_FALSE(server->address.empty()) << server->printed();
  start();
  testing_support::EventKeeper arrived;
  Subscription hear(served().events(), arrived);
  presenter().toggle_recording();
  ASSERT_TRUE(wait_for([&] { return arrived.size() > 50000; }));
  ::kill(server->pid(), SIGSTOP);  // the server keeps its connections and answers nothing
  const auto frozen = std::chrono::steady_clock::now();
  // Lost once the keepalive finds it silent (3 s); the cap is only a bound on a failure.
  EXPECT_TRUE(testing_support::pump_until(
      [&] { return status(kStatusConnection) == connection_text(false); }, 15s))
      << status(kStatusConnection);
  // The recording ends with the stream, told on the GUI thread after the loss.
  EXPECT_TRUE(testing_support::pump_until([&] { return !presenter().recording(); }, 5s));
  // Whole: every event the bench heard is in the file, in order, and the
  // file reads back to its end.
  const std::string path = presenter().last_recording();
  const RecordingInfo info = RecordingReader::scan(path);
  EXPECT_EQ(info.partial_bytes, 0u);
  std::vector<Event> heard;
  {
    std::lock_guard lock(arrived.mutex);
    heard = arrived.events;
  }
  EXPECT_GT(heard.size(), 50000u);
  EXPECT_EQ(info.events, heard.size());
  EXPECT_TRUE(testing_support::same_events(testing_support::read_all(path), heard));

  // The holder's last call came before the freeze: its lease is over once
  // the server's clock has gone a lease past it.
  ASSERT_TRUE(testing_support::pump_until(
      [&] { return std::chrono::steady_clock::now() > frozen + kLease; }, 15s));
  ::kill(server->pid(), SIGCONT);
  // The board is claimed again, as it is: still streaming.
  ASSERT_TRUE(testing_support::pump_until(
      [&] { return status(kStatusConnection) == connection_text(true); }, 15s))
      << status(kStatusConnection);
  ASSERT_TRUE(wait_for([&] { return presenter().acquiring(); }));
  EXPECT_TRUE(wait_for([&] { return served_state().held_by() == "pravel e2e test"; }));
  // By a new claim: the server made the bench a second session, the first having lapsed.
  const std::string said = server->printed();
  const std::string held = "The board is held by pravel e2e test at ";
  std::size_t claims = 0;
  for (auto at = said.find(held); at != std::string::npos; at = said.find(held, at + 1)) ++claims;
  EXPECT_EQ(claims, 2u) << said;
  click(window().panel_control->button_start_stop);
  EXPECT_FALSE(presenter().acquiring());
  EXPECT_TRUE(wait_for([&] { return !served_acquiring(); }))
      << "the board streams on: " << message();
  EXPECT_EQ(message().rfind("Error", 0), std::string::npos) << message();
}

TEST_F(ServedBench, AKilledServerIsAnUnplugThatEndsTheRecordingAndTheSweepUntilItIsBack) {
  testing_support::EventKeeper arrived;
  Subscription hear(served().events(), arrived);
  presenter().toggle_recording();
  ASSERT_TRUE(wait_for([&] { return arrived.size() > 50000; }));
  auto& sweep = start_sweep("VTH_OFF", "600, 700, 900, 1000", "0.2", "0.5");
  ASSERT_TRUE(wait_for([&] { return sweep.table->GetItemCount() >= 1; }));

  server->kill();
  ASSERT_TRUE(wait_for([&] { return status(kStatusConnection) == connection_text(false); }));
  EXPECT_TRUE(wait_for([&] { return status(kStatusBitstream) == "Bitstream: none"; }));
  ASSERT_TRUE(wait_for([&] { return !sweep.running(); }));
  // The lost stream and the lost board are told apart, in either order.
  EXPECT_TRUE(wait_for([&] { return !presenter().recording(); }));
  EXPECT_TRUE(wait_for([&] { return !window().panel_control->button_start_stop->IsEnabled(); }));
  EXPECT_LT(sweep.table->GetItemCount(), 4) << "the sweep went on without its board";
  const std::string path = presenter().last_recording();
  const RecordingInfo info = RecordingReader::scan(path);  // whole, up to the loss
  EXPECT_GE(info.events, 50000u);
  EXPECT_LE(info.events, arrived.size());

  server->restart();
  ASSERT_FALSE(server->address.empty());
  expect_back_and_streaming();
}

// The served board, but its serial port answers with 3.5 MB: a reply the
// bench does not take.
class LongSerialService : public remote::BoardService {
 public:
  using remote::BoardService::BoardService;
  grpc::Status SerialTransact(grpc::ServerContext*, const v1::SerialRequest*,
                              v1::SerialReply* reply) override {
    reply->set_answer(std::string(3'500'000, 'A'));
    return grpc::Status::OK;
  }
};

class LyingServedBench : public Bench {
 protected:
  void SetUp() override {
    served_ = std::make_unique<remote::ServedBoard>(device_, "",
                                                    std::make_shared<spdlog::logger>("lying"));
    service_ = std::make_unique<LongSerialService>(*served_);
    grpc::ServerBuilder builder;
    remote::keep_clients_alive(builder);
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
    builder.RegisterService(service_.get());
    lying_ = builder.BuildAndStart();
    ASSERT_TRUE(lying_ && port != 0);
    served_address = "127.0.0.1:" + std::to_string(port);
    Bench::SetUp();
  }
  void TearDown() override {
    Bench::TearDown();
    lying_->Shutdown(std::chrono::system_clock::now());
  }
  SimulatedDevice device_;
  std::unique_ptr<remote::ServedBoard> served_;
  std::unique_ptr<LongSerialService> service_;
  std::unique_ptr<grpc::Server> lying_;
};

TEST_F(LyingServedBench, AReplyTheBenchDoesNotTakeIsToldInTheWindowInOneSentence) {
  choose(tool("Write SPI"));
  auto* serial = window().serial_control_frame->panel_serial_control;
  type(serial->serial_tx_box, "ID?");
  click(serial->btn_write);
  EXPECT_TRUE(wait_for([&] {
    return message() ==
           "Error: The board sent a serial answer of 3.3 MiB (at most 64 KiB): it is not shown";
  })) << message();
  EXPECT_EQ(serial->serial_rx_box->GetValue(), "") << "nothing of the answer is shown";
}

// The server comes back on its port as another sensor: the windows follow
// the board it is now, and nothing of the old one's rows stays.
TEST_F(ServedBench, AServerBackAsAnotherSensorIsFollowedByEveryWindow) {
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  ASSERT_EQ(adc_rows(adc).size(), 4u);
  server->restart({"--sensor", "320x240"});
  ASSERT_FALSE(server->address.empty());
  ASSERT_TRUE(wait_for([&] { return message() == "Board connected"; })) << message();
  EXPECT_TRUE(
      logged(spdlog::level::info, "The board is now AER-320: 320\u00d7240, 2 ADC channels"));
  EXPECT_EQ(adc_rows(adc),
            (std::vector<std::string>{"CH0: VDD (V)", "CH1: Temperature (\u00b0C)"}));
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 2u);
  EXPECT_EQ(labels(window().edit_dac_frame->panel_values->field_widgets()),
            (std::vector<std::string>{"PR_BIAS", "REFRACTORY", "THR_OFF", "THR_ON"}));
  EXPECT_FALSE(field(window().edit_register_device_frame, "CHIP_ID")->IsEditable());
  EXPECT_EQ(labels(chip_editor().signals_panel->values_widgets),
            (std::vector<std::string>{"EN_AER", "RST_N"}));
  EXPECT_EQ(window().image_panel->sensor_size(), wxSize(320, 240));
  EXPECT_TRUE(window().serial_note->IsShown());
  // A field of the new board writes to it.
  choose(window().menu_bar->menu_edit->item_dac);
  type(field(window().edit_dac_frame, "THR_ON"), "650");
  click(window().edit_dac_frame->panel_values->button_apply);
  EXPECT_TRUE(wait_for([&] { return served_value("THR_ON") == 650; }));
}

// The bench on pravel-board serving the AER-320 (pravel-board --sensor
// 320x240): every window follows what the board declares over the link.
class ServedSmallSensor : public ServedBench {
 protected:
  void SetUp() override {
    serve_board({"--sensor", "320x240"});
    Bench::SetUp();
  }
};

TEST_F(ServedSmallSensor, TheWindowShowsTheBoardAsItDeclaresItself) {
  // The image: the sensor's size, at its aspect.
  auto& image = *window().image_panel;
  EXPECT_EQ(image.sensor_size(), wxSize(320, 240));
  EXPECT_EQ(model().image.geometry, (SensorGeometry{320, 240}));
  const wxRect shown = image.image_rect();
  EXPECT_NEAR(static_cast<double>(shown.width) / shown.height, 4.0 / 3.0, 0.01)
      << shown.width << " x " << shown.height;

  // The ADC monitor: the board's two channels with their units, sampled.
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  EXPECT_EQ(adc_rows(adc),
            (std::vector<std::string>{"CH0: VDD (V)", "CH1: Temperature (\u00b0C)"}));
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 2u);
  auto& temperature = presenter().adc_channels().at("temperature");
  ASSERT_TRUE(wait_for([&] { return temperature.data_y.size() >= 3; }));
  EXPECT_NEAR(temperature.data_y.back(), 45, 25);

  // The editors: its registers with their units; its read-only CHIP_ID takes no typing.
  choose(window().menu_bar->menu_edit->item_dac);
  auto* dacs = window().edit_dac_frame;
  EXPECT_EQ(labels(dacs->panel_values->field_widgets()),
            (std::vector<std::string>{"PR_BIAS", "REFRACTORY", "THR_OFF", "THR_ON"}));
  EXPECT_EQ(caption(dacs, "THR_ON"), "THR_ON (mV)");
  EXPECT_EQ(caption(dacs, "REFRACTORY"), "REFRACTORY (\u00b5s)");
  choose(window().menu_bar->menu_edit->item_reg_dev);
  auto* device = window().edit_register_device_frame;
  EXPECT_EQ(caption(device, "FIFO_THRESHOLD"), "FIFO_THRESHOLD (events)");
  EXPECT_FALSE(field(device, "CHIP_ID")->IsEditable());
  EXPECT_EQ(field(device, "CHIP_ID")->GetToolTipText().utf8_string(),
            "CHIP_ID: The chip's identification word; read-only");

  // The test pattern it lacks: refused in the board's sentence, nothing sent.
  select_mode(1);
  EXPECT_EQ(message(), "Error: The board has no test pattern mode: nothing was sent");
  EXPECT_EQ(window().panel_control->modes_box->GetSelection(), 0);
  select_mode(2);  // one it has, sent and logged by the server: the log is read after it
  ASSERT_TRUE(wait_for([&] {
    return server->printed().find("Mode MODE_STANDBY: done") != std::string::npos;
  })) << server->printed();
  EXPECT_EQ(server->printed().find("MODE_TEST_PATTERN"), std::string::npos) << server->printed();
}

// The bench on the Python fake board of examples/python_board, a board
// team's server: its two ADC channels, and no reading it does not have.
class FakePythonBoard : public Bench {
 protected:
  void SetUp() override {
    const fs::path folder = fs::current_path() / "fake_board";
    const std::string stubs = (folder / "stubs").string();
    ASSERT_EQ(std::system(("'" ZELVAR_SOURCE_DIR "/examples/python_client/generate.sh' '" + stubs +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0)
        << "protoc and its gRPC Python plugin make the stubs (scripts/deps.sh installs them)";
    server = std::make_unique<testing_support::BoardServerProcess>(
        folder, server_command(), stubs + ":" ZELVAR_SOURCE_DIR "/examples/python_board");
    ASSERT_FALSE(server->address.empty()) << server->printed();
    Bench::SetUp();
  }
  // The Python server run, its program first.
  virtual std::vector<std::string> server_command() {
    return {"/usr/bin/python3", ZELVAR_SOURCE_DIR "/examples/python_board/fake_board.py"};
  }
};

TEST_F(FakePythonBoard, TheAdcMonitorShowsItsTwoChannelsAndNoNan) {
  choose(tool("ADCs"));
  auto* adc = window().adc_control_frame;
  EXPECT_EQ(adc_rows(adc),
            (std::vector<std::string>{"CH0: VDD (V)", "CH1: Temperature (\u00b0C)"}));
  EXPECT_EQ(adc->panel_plot->canvas_list.size(), 2u);
  ASSERT_EQ(presenter().adc_channels().size(), 2u);
  auto& vdd = presenter().adc_channels().at("vdd");
  ASSERT_TRUE(wait_for([&] { return vdd.data_y.size() >= 3; }));
  // Every value shown is a number the board read: nothing says "nan".
  for (const auto& [label, value] : adc->panel_menu->values_widgets) {
    const std::string text = value->GetValue().Lower().utf8_string();
    EXPECT_EQ(text.find("nan"), std::string::npos) << label << ": " << text;
    double number = 0;
    EXPECT_TRUE(value->GetValue().ToCDouble(&number) && std::isfinite(number)) << label;
  }
  for (const auto& [key, channel] : presenter().adc_channels())
    for (double y : channel.data_y) ASSERT_TRUE(std::isfinite(y)) << key;
  EXPECT_EQ(adc->GetStatusBar()->GetStatusText().Lower().Find("nan"), wxNOT_FOUND);
  EXPECT_EQ(window().image_panel->sensor_size(), wxSize(640, 480));
}

// The fake board's server losing events on the way (lying_board.py --lie
// link_losses): every fifth batch never sent, and its queue saying it dropped
// 1,000 events before each batch. The window tells each kind apart.
class LinkLossesBoard : public FakePythonBoard {
 protected:
  std::vector<std::string> server_command() override {
    return {"/usr/bin/python3", ZELVAR_SOURCE_DIR "/tests/bench/remote/lying_board.py", "--lie",
            "link_losses"};
  }
  // Whether a warning of the log since the mark matches `pattern`.
  bool warned(const std::string& pattern) {
    const std::regex matching(pattern);
    for (const auto& entry : LogBook::instance().since(log_mark))
      if (entry.level == spdlog::level::warn && std::regex_match(entry.message, matching))
        return true;
    return false;
  }
};

TEST_F(LinkLossesBoard, TheWindowTellsWhatTheServerDroppedApartFromWhatTransitLost) {
  mark_log();
  presenter().toggle_recording();
  ASSERT_TRUE(presenter().recording()) << message();
  // Told at warning level as they are seen, each kind in its own sentence.
  EXPECT_TRUE(wait_for([&] {
    return warned(
        "The board server dropped [0-9,]+ events \\([0-9,]+ since its stream's call "
        "began\\)");
  })) << message();
  EXPECT_TRUE(wait_for([&] {
    return warned("[0-9,]+ batch(es)? of events lost in transit from the board server");
  })) << message();
  presenter().toggle_recording();
  ASSERT_FALSE(presenter().recording());
  // The recording's end says which losses it has, one kind after the other.
  const std::string file = fs::path(presenter().last_recording()).filename().string();
  EXPECT_TRUE(std::regex_match(
      message(), std::regex("Recorded " + file +
                            ": .*, [0-9,]+ events, 0 dropped; [1-9][0-9,]* events dropped by the "
                            "board server; [1-9][0-9,]* batch(es)? of events lost in transit "
                            "from the board server")))
      << message();
  EXPECT_TRUE(warned("Recording " + file +
                     ": [1-9][0-9,]* events dropped by the board server \\(the file has gaps "
                     "there\\)"));
  EXPECT_TRUE(warned("Recording " + file +
                     ": [1-9][0-9,]* batch(es)? of events lost in transit from the board server "
                     "\\(the file has gaps there\\)"));
  presenter().stop_main_img_thread();
}

}  // namespace
}  // namespace Zelvar_Core::bench
