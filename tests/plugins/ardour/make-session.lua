-- Builds an Ardour session headless, as the test of the plugins in Ardour needs it:
--   ardour7-lua make-session.lua SESSION_DIR PLUGIN_URI [CONTROL_INDEX=VALUE]...
-- on the dummy backend (silence in, no sound card): one stereo track holding a 2.5 s take
-- recorded from that silence, and the plugin inserted first on the track with the controls
-- given. Ardour 7 has no headless import, so the test writes its own signal over the take's
-- files afterwards; the session then plays that signal through the plugin.
local dir, uri = arg[1], arg[2]
assert(dir and uri, "usage: make-session.lua SESSION_DIR PLUGIN_URI [CONTROL_INDEX=VALUE]...")

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(backend, "the dummy backend is hidden: set hide-dummy-backend to 0 in Ardour's config")
backend:set_device_name("Silence")
backend:set_sample_rate(48000)
backend:set_buffer_size(256)
assert(AudioEngine:start(false) == 0, "the audio engine did not start")
assert(create_session(dir, "orvane", 48000), "cannot create a session in " .. dir)

local track = Session:new_audio_track(2, 2, nil, 1, "fx", ARDOUR.PresentationInfo.max_order,
                                      ARDOUR.TrackMode.Normal, true):front()
track:rec_enable_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
Session:maybe_enable_record(false)
Session:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(2500000)
Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(1000000)
track:rec_enable_control():set_value(0, PBD.GroupControlDisposition.NoGroup)

local plugin = ARDOUR.LuaAPI.new_plugin(Session, uri, ARDOUR.PluginType.LV2, "")
assert(not plugin:isnil(), "Ardour does not find the plugin " .. uri)
assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "cannot insert the plugin")

-- Controls as INDEX=VALUE (a negative value alone would read as an option of ardour7-lua), by
-- their index among the plugin's control inputs, which for these plugins is the LV2 port index
-- (the controls come first).
for i = 3, #arg do
  local port, value = arg[i]:match("^(%d+)=(.+)$")
  port, value = tonumber(port), tonumber(value)
  assert(port and value, "expected INDEX=VALUE, not " .. arg[i])
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, port, value), "cannot set control " .. port)
end
Session:save_state("", false, false, false, false, false)
close_session()
print("session made")
