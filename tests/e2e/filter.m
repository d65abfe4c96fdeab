% 'filter' against the simulator: filter type listing, the selections of a
% type, 'set' (applied by the simulator and read back), 'custom' uploads
% (the record bytes, and the uploaded stages read back with columns 3 and 4
% implied), and every refusal (which must send nothing).
1;

function hex = to_hex(bytes)
  hex = lower(reshape(dec2hex(uint8(bytes), 2)', 1, []));
end

function b = f32(x)
  b = typecast(single(x), 'uint8');
end

% The header and address of a property set to module/property, as hex.
function hex = set_header_hex(words, module, property)
  hex = sprintf('%02x00000001000000' , words);
  hex = [hex sprintf('01%02x%02x%02x', module, mod(property, 256), floor(property / 256))];
end

function sets = wait_sets(mark, n)
  vt_wait(@() numel(vt_log_since(mark, 'set')) >= n, 10);
  sets = vt_log_since(mark, 'set');
end

function [sel, info] = list_one(elec, ftype, select)
  [sel, info] = vornmex('filter', 'list', elec, ftype, select);
end

function label = get_label(elec, ftype, select)
  [~, info] = vornmex('filter', 'list', elec, ftype, select);
  label = info.label;
end

fields = {'label'; 'lowCutoff'; 'highCutoff'; 'center'; 'centerOrder'; 'centerFlags'; ...
          'lowOrder'; 'lowFlags'; 'highOrder'; 'highFlags'; 'maxStages'; 'numStages'; 'sos'};

vt_equal(vornmex(), true, 'connected to the simulator');

%% Filter types
vt_equal(vornmex('filter', 'list', 5), {'lfp', 'spike'}, ...
         'types: names lower-cased, cut before " Filter", sorted');
vt_equal(vornmex('filter', 'list', 130), {'lfp', 'spike'}, 'the stim front end has the same types');
vt_equal(vornmex('filter', 'list', 999), cell(1, 0), 'an unknown electrode has no types');
vt_equal(vornmex('filter', 'list', 10241), cell(1, 0), 'an analog input has no filter types');

%% One type, all selections
[sel, info] = vornmex('filter', 'list', 5, 'Spike Filter');
vt_equal(sel, 2, 'the current selection counts from 1');
vt_equal(size(info), [4 1], 'one struct element per selection, as a column');
vt_equal(fieldnames(info), fields, 'the 13 fields in order');
vt_equal({info.label}, {'none', '250 Hz HP', '750 Hz HP', 'custom'}, 'labels in selection order');
vt_equal(info(1).sos, zeros(0, 6), 'no stages give a 0x6 sos');
vt_equal(info(1).numStages, 0, 'numStages of an empty selection');
s2 = info(2);
vt_equal([s2.lowCutoff s2.highCutoff s2.center], [250 0 0], 'frequencies of selection 2');
vt_equal([s2.centerOrder s2.centerFlags s2.lowOrder s2.lowFlags s2.highOrder s2.highFlags], ...
         [0 0 4 0 0 0], 'orders and flags of selection 2');
vt_equal([s2.maxStages s2.numStages], [6 2], 'maxStages and numStages of selection 2');
vt_equal(s2.sos, [0.875 -1.75 0.875 1 -1.71875 0.75; 1 -2 1 1 -1.859375 0.875], ...
         'sos rows are b0 b1 b0 1 a1 a2');
[sel2, info2] = vornmex('filter', 'list', 5, 'spike');
vt_equal({sel2, info2}, {sel, info}, '''spike'' names the same type as ''Spike Filter''');
[sel3, info3] = vornmex('filter', 'list', 5, 'SPIKE', 2, 'more');
vt_equal({sel3, info3}, {sel, info}, 'six or more arguments list every selection too');
[~, info4] = vornmex('filter', 'list', 5, 'Spike Filterxxxxxxx');
vt_equal(info4, info, 'a type name is cut to 15 characters');
vt_equal(vornmex('filter', 'list', 5, 'lfp'), 2, 'one output: only the selection');

%% One type, one selection
[sel, info] = list_one(5, 'lfp', 3);
vt_equal(sel, 2, 'the current selection with a select argument');
vt_equal(size(info), [1 1], 'one selection gives a 1x1 struct');
vt_equal(fieldnames(info), fields, 'the 13 fields in order (one selection)');
vt_equal(info.label, '500 Hz LP', 'selection 3 of lfp');
vt_equal(info.highCutoff, 500, 'its high cutoff');
vt_equal(info.sos, [0.125 0.25 0.125 1 -1 0.375; 0.25 0.5 0.25 1 -0.75 0.25], 'its stages');

%% 'set': the cached combo box goes back with the new selection
mark = vt_log_mark();
vornmex('filter', 'set', 5, 'spike', 3);
sets = wait_sets(mark, 1);
combo = [1 7 0 0 2 0 0 0 103 0 4 0 zeros(1, 128)];
vt_equal(sets{1}.bytes, [set_header_hex(38, 2, 101) to_hex(combo)], ...
         'set: 152 bytes to module 2, property 101, selection 2 (0-based)');
vt_check(sets{1}.applied, 'the simulator applied the set');
vt_wait(@() vornmex('filter', 'list', 1, 'spike') == 3, 10, ...
        'list reads the new selection back (for every electrode of the front end)');

%% 'custom': uploads into the last selection
sos = struct('label', 'my custom filter x', 'center', 1000.5, 'lowCutoff', 300, ...
             'highCutoff', 3000, 'centerOrder', 1, 'lowOrder', 258, 'highOrder', -1, ...
             'numStages', 2.9, 'sos', [1 2 3 4 5 6; 0.5 0.25 9 9 -0.5 0.125; 7 7 7 7 7 7], ...
             'centerFlags', 9, 'maxStages', 3);
mark = vt_log_mark();
vornmex('filter', 'custom', 5, 'LFP Filter', sos);
sets = wait_sets(mark, 1);
rec = zeros(1, 192, 'uint8');
rec(1:2) = [1 26];
rec(5:19) = uint8('my custom filte');
rec(133:136) = f32(1000.5);
rec(137:140) = f32(300);
rec(141:144) = f32(3000);
rec(145:152) = [1 0 2 0 255 0 6 2];
rec(153:184) = [f32(1) f32(2) f32(5) f32(6) f32(0.5) f32(0.25) f32(-0.5) f32(0.125)];
vt_equal(sets{1}.bytes, [set_header_hex(51, 2, 118) to_hex(rec)], ...
         'custom: a 192-byte record in a 51-word packet to the last lfp selection (property 118)');
vt_check(sets{1}.applied, 'the simulator applied the upload');
vt_wait(@() strcmp(get_label(5, 'lfp', 4), 'my custom filte'), 10, 'list reads the upload back');
[sel, info] = list_one(5, 'lfp', 4);
vt_equal(sel, 2, 'the upload does not change the current selection');
vt_equal(info.sos, [1 2 1 1 5 6; 0.5 0.25 0.5 1 -0.5 0.125], ...
         'the uploaded stages read back with columns 3 and 4 implied');
vt_equal([info.center info.lowCutoff info.highCutoff], [1000.5 300 3000], 'uploaded frequencies');
vt_equal([info.centerOrder info.centerFlags info.lowOrder info.lowFlags info.highOrder ...
          info.highFlags info.maxStages info.numStages], [1 0 2 0 255 0 6 2], ...
         'orders keep their low 8 bits; flags 0; maxStages 6');
vornmex('filter', 'set', 5, 'lfp', 4);
vt_wait(@() vornmex('filter', 'list', 5, 'lfp') == 4, 10, 'a set of the last selection makes the upload current');

mark = vt_log_mark();
empty = setfield(setfield(sos, 'numStages', 0), 'sos', zeros(0, 6));
vornmex('filter', 'custom', 130, 'spike', empty);
sets = wait_sets(mark, 1);
rec = zeros(1, 152, 'uint8');
rec(1:2) = [1 26];
rec(5:19) = uint8('my custom filte');
rec(133:144) = [f32(1000.5) f32(300) f32(3000)];
rec(145:152) = [1 0 2 0 255 0 6 0];
vt_equal(sets{1}.bytes, [set_header_hex(41, 10, 114) to_hex(rec)], ...
         'a filter without stages: a 152-byte record to the stim front end''s spike module');

%% Refusals, none of which sends anything
good = sos;
vt_sends_nothing(@() vornmex('filter'), 'usage: vornmex(''filter'', cmd (''list'', ''set'', ''custom'')', ...
                 'no subcommand');
vt_sends_nothing(@() vornmex('filter', 5), 'invalid filter string', 'a subcommand that is no text');
vt_sends_nothing(@() vornmex('filter', 'customcustomcust'), 'invalid filter string', ...
                 'a subcommand of 16 characters');
vt_sends_nothing(@() vornmex('filter', 'List', 5), ...
                 'filter string must be ''set'', ''list'', or ''custom''', 'an unknown subcommand');
vt_sends_nothing(@() vornmex('filter', 'list'), ...
                 'usage: vornmex(''filter'', ''list'', elec, [filter type [, select]])', 'list without elec');
vt_sends_nothing(@() vornmex('filter', 'list', 'e'), 'elec must be an electrode number', ...
                 'an electrode that is no number');
vt_sends_nothing(@() vornmex('filter', 'list', 999, 'spike'), 'Invalid filter.', 'list: unknown electrode');
vt_sends_nothing(@() vornmex('filter', 'list', 5, 'notch'), 'Invalid filter.', 'list: unknown type');
vt_sends_nothing(@() vornmex('filter', 'list', 5, 3), 'filter type must be a char array', ...
                 'list: a type that is no text');
vt_sends_nothing(@() list_one(5, 'spike', 0), 'Invalid selection', 'list: selection 0');
vt_sends_nothing(@() list_one(5, 'spike', 5), 'Invalid selection', 'list: selection above the count');
vt_sends_nothing(@() vornmex('filter', 'set', 5, 'spike'), ...
                 'usage: vornmex(''filter'', ''set'', elec, filter type, select)', 'set without select');
vt_sends_nothing(@() vornmex('filter', 'set', 999, 'spike', 1), 'Invalid filter.', 'set: unknown electrode');
vt_sends_nothing(@() vornmex('filter', 'set', 5, 'notch', 1), 'Invalid filter.', 'set: unknown type');
vt_sends_nothing(@() vornmex('filter', 'set', 5, 'spike', 0), 'Invalid filter selection.', 'set: selection 0');
vt_sends_nothing(@() vornmex('filter', 'set', 5, 'spike', 5), 'Invalid filter selection.', ...
                 'set: selection above the count');
vt_sends_nothing(@() vornmex('filter', 'set', 5, 'spike', NaN), 'Invalid filter selection.', ...
                 'set: selection NaN');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp'), ...
                 'usage: vornmex(''filter'', ''custom'', elec, filter type, sos_struct)', 'custom without struct');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', 5), 'invalid sos struct', 'custom: no struct');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', struct([])), 'invalid sos struct', ...
                 'custom: an empty struct array');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 7, good), 'filter type must be a char array', ...
                 'custom: a type that is no text');
for f = {'label', 'center', 'lowCutoff', 'highCutoff', 'centerOrder', 'lowOrder', 'highOrder', ...
         'numStages', 'sos'}
  vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', rmfield(good, f{1})), ...
                   ['invalid sos struct: ' f{1}], ['custom: no field ' f{1}]);
end
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'label', 5)), ...
                 'invalid sos struct: label must be a char array', 'custom: a label that is no text');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'center', 'x')), ...
                 'invalid sos struct: center must be a number', 'custom: a center that is no number');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'lowOrder', NaN)), ...
                 'invalid sos struct: lowOrder out of range', 'custom: an order NaN');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'numStages', -1)), ...
                 'invalid sos struct: numStages must be 0 to 255', 'custom: negative numStages');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', ...
                             setfield(setfield(good, 'numStages', 256), 'sos', zeros(300, 6))), ...
                 'invalid sos struct: numStages must be 0 to 255', 'custom: numStages above 255');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'numStages', 4)), ...
                 'invalid sos struct: numStages (4) is larger than the rows of sos (3)', ...
                 'custom: more stages than rows');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', ...
                             setfield(setfield(good, 'numStages', 43), 'sos', zeros(43, 6))), ...
                 'invalid sos struct: at most 42 stages fit in one packet', ...
                 'custom: more stages than one packet holds');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'sos', ones(3, 5))), ...
                 'invalid sos struct: sos must have 6 columns', 'custom: a sos of 5 columns');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'lfp', setfield(good, 'sos', int32(ones(3, 6)))), ...
                 'invalid sos struct: sos must be a real double matrix', 'custom: an int32 sos');
vt_sends_nothing(@() vornmex('filter', 'custom', 999, 'lfp', good), 'Invalid filter.', ...
                 'custom: unknown electrode');
vt_sends_nothing(@() vornmex('filter', 'custom', 5, 'notch', good), 'Invalid filter.', ...
                 'custom: unknown type');

vt_done();
