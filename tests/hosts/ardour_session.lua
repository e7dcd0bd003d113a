-- Drives a headless Ardour session (ardour7-lua, "None (Dummy)" backend)
-- through a small plan: create or reload a session holding one stereo bus
-- with a VST3 plug-in as its first insert, set parameters by display name,
-- read the bus meters, dump every parameter value, save.
--
-- Usage: ardour7-lua ardour_session.lua MODE SESSION_DIR SESSION_NAME
--                    VST3_DIR PLUGIN_NAME PLAN_FILE RESULT_FILE
--   MODE        "create" (new session, plug-in inserted) or "reload"
--   PLAN_FILE   one command per line, fields separated by a tab:
--                 set<TAB>Display Name<TAB>value   value in Ardour's units
--                 measure<TAB>tag                  bus peak level, both channels
--                 dump                             every parameter, index/name/value
--                 bypass / enable                  deactivate / activate the insert
--                 save                             save the session state
--   RESULT_FILE written line by line and flushed, because luasession's exit
--               status and stdout are not reliable once the session closes:
--                 meter<TAB>tag<TAB>left dB<TAB>right dB<TAB>min dB
--                 param<TAB>index<TAB>name<TAB>value
--                 desc<TAB>index<TAB>lower<TAB>upper<TAB>default<TAB>toggled<TAB>integer step
--                 error<TAB>text
--                 done
--
-- The dummy backend's "Sine Wave" device feeds a steady sine into each
-- capture port; the bus takes system:capture_1 and system:capture_2.

local mode, session_dir, session_name, vst3_dir, plugin_name, plan_path, result_path =
	arg[1], arg[2], arg[3], arg[4], arg[5], arg[6], arg[7]

local bus_name = "HostBus"
local out = assert (io.open (result_path, "w"))

local function emit (...)
	out:write (table.concat ({ ... }, "\t"), "\n")
	out:flush ()
end

local function fail (text)
	emit ("error", text)
	out:close ()
	error (text)
end

local function read_plan (path)
	local steps = {}
	for line in io.lines (path) do
		if line ~= "" and line:sub (1, 1) ~= "#" then
			local fields = {}
			for field in (line .. "\t"):gmatch ("([^\t]*)\t") do
				fields[#fields + 1] = field
			end
			steps[#steps + 1] = fields
		end
	end
	return steps
end

-- Host settings must be in place before a session exists: Ardour reads the
-- VST3 search path only from its configuration, never from the environment,
-- and the plug-in list from the scanner's cache.
ARDOUR.config ():set_plugin_path_vst3 (vst3_dir)
-- A falloff this steep lets each read show the peak of the latest cycle: at
-- the default 13.3 dB/s a drop in level takes seconds to show, and 0 does not
-- mean "no falloff" but "hold the maximum".
ARDOUR.config ():set_meter_falloff (1000)

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
if not backend then fail ("cannot select the dummy backend") end
backend:set_device_name ("Sine Wave")

local steps = read_plan (plan_path)

if mode == "create" then
	if not create_session (session_dir, session_name, 48000) then fail ("create_session failed") end
elseif mode == "reload" then
	if not load_session (session_dir, session_name) then fail ("load_session failed") end
else
	fail ("unknown mode " .. tostring (mode))
end
emit ("stage", "session_open")

if mode == "create" then
	local _, t = Session:engine ():get_backend_ports ("", ARDOUR.DataType ("audio"),
		ARDOUR.PortFlags.IsOutput | ARDOUR.PortFlags.IsPhysical, C.StringVector ())
	local captures = t[4]
	if captures:size () < 2 then fail ("dummy backend offers fewer than 2 capture ports") end

	local routes = Session:new_audio_route (2, 2, nil, 1, bus_name,
		ARDOUR.PresentationInfo.Flag.AudioBus, ARDOUR.PresentationInfo.max_order)
	if routes:size () ~= 1 then fail ("new_audio_route made no bus") end
	local bus = routes:front ()
	bus:input ():disconnect_all (nil)
	bus:input ():audio (0):connect (captures:at (0))
	bus:input ():audio (1):connect (captures:at (1))

	local proc = ARDOUR.LuaAPI.new_plugin (Session, plugin_name, ARDOUR.PluginType.VST3, "")
	if proc:isnil () then fail ("VST3 plug-in not found: " .. plugin_name) end
	if bus:add_processor_by_index (proc, 0, nil, true) ~= 0 then
		fail ("bus refused the plug-in")
	end
	emit ("stage", "plugin_inserted")
	proc = nil
	bus = nil
	routes = nil
	captures = nil
	t = nil
	collectgarbage ()
end

-- Everything below looks the bus and the insert up anew and drops the
-- references before the session closes; luasession crashes at exit if
-- Lua still holds a route or processor then.
local function with_insert (fn)
	local bus = Session:route_by_name (bus_name)
	if bus:isnil () then fail ("bus " .. bus_name .. " missing") end
	local proc = bus:nth_plugin (0)
	if proc:isnil () then fail ("bus holds no plug-in") end
	local insert = proc:to_insert ()
	local result = fn (bus, insert, insert:plugin (0))
	insert = nil
	proc = nil
	bus = nil
	collectgarbage ()
	return result
end

local function control_of (insert, index)
	return insert:to_automatable ():automation_control (
		Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, index), false)
end

local function find_param (plugin, label)
	for i = 0, plugin:parameter_count () - 1 do
		if plugin:parameter_label (i) == label then return i end
	end
	return nil
end

local function to_db (coeff_db) return string.format ("%.3f", coeff_db) end

-- Waits for the new values to reach the audio thread, then keeps the
-- loudest and the quietest of a few short reads per channel.
local function measure (tag)
	sleep (0.6)
	local peak = { -math.huge, -math.huge }
	local low = math.huge
	for _ = 1, 8 do
		with_insert (function (bus)
			local meter = bus:peak_meter ()
			for ch = 0, 1 do
				local level = meter:meter_level (ch, ARDOUR.MeterType.MeterPeak)
				if level > peak[ch + 1] then peak[ch + 1] = level end
				if level < low then low = level end
			end
			meter = nil
		end)
		sleep (0.1)
	end
	emit ("meter", tag, to_db (peak[1]), to_db (peak[2]), to_db (low))
end

for _, step in ipairs (steps) do
	local cmd = step[1]
	if cmd == "set" then
		with_insert (function (_, insert, plugin)
			local index = find_param (plugin, step[2])
			if not index then fail ("no parameter named " .. step[2]) end
			local control = control_of (insert, index)
			if control:isnil () then fail ("parameter " .. step[2] .. " has no control") end
			control:set_value (tonumber (step[3]), PBD.GroupControlDisposition.NoGroup)
			control = nil
		end)
		emit ("set", step[2], step[3])
	elseif cmd == "bypass" or cmd == "enable" then
		with_insert (function (_, insert)
			if cmd == "bypass" then insert:deactivate () else insert:activate () end
		end)
		emit (cmd)
	elseif cmd == "measure" then
		measure (step[2])
	elseif cmd == "dump" then
		with_insert (function (_, insert, plugin)
			emit ("count", tostring (plugin:parameter_count ()))
			for i = 0, plugin:parameter_count () - 1 do
				local control = control_of (insert, i)
				local value = control:isnil () and "none" or string.format ("%.6f", control:get_value ())
				emit ("param", tostring (i), plugin:parameter_label (i), value)
				if not control:isnil () then
					local d = control:desc ()
					emit ("desc", tostring (i), string.format ("%.6f", d.lower), string.format ("%.6f", d.upper),
						string.format ("%.6f", d.normal), tostring (d.toggled), tostring (d.integer_step))
					d = nil
				end
				control = nil
			end
		end)
	elseif cmd == "save" then
		if Session:save_state ("", false, false, false, false, false) ~= 0 then fail ("save_state failed") end
		emit ("stage", "saved")
	else
		fail ("unknown plan command " .. tostring (cmd))
	end
end

collectgarbage ()
emit ("done")
out:close ()
close_session ()
