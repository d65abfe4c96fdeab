% 'filter' against the simulator: filter type listing, the selections of a
% type, 'set' (applied by the simulator and read back), 'custom' uploads
% (the record bytes, and the uploaded stages read back with columns 3 and 4
% implied), and every refusal (which must send nothing).
1;

% Runs the call and checks that it sends one property set, applied by the
% simulator: words (size byte), module, property and record bytes.
function set_sent(call, words, module, property, record, name)
  mark = vt_log_mark();
  call();
  [~, hexes] = vt_sent_since(mark);
  expected = [sprintf('%02x0000000100000001%02x%02x%02x', words, module, mod(property, 256), floor(property / 256)) ...
              vt_hex(record)];
  vt_record(isequal(hexes, {expected}) && vt_log_since(mark, 'set'){1}.applied, name, ...
            sprintf('expected %s, applied\nreceived %s', expected, strjoin(hexes, ' ')));
end

% s with the fields and values of the pairs given.
function s = with(s, varargin)
  for i = 1:2:numel(varargin)
    s.(varargin{i}) = varargin{i + 1};
  end
end

% The 'custom' record of n bytes: label, frequencies, orders and flags, the
% stages' b0 b1 a1 a2 (float32 each), zeros.
function r = custom_record(n, label, freqs, orders, sos)
  r = [1 26 0 0 uint8(label) zeros(1, 128 - numel(label)) typecast(single(freqs), 'uint8') orders ...
       typecast(single(reshape(sos(:, [1 2 5 6])', 1, [])), 'uint8')];
  r(end + 1:n) = 0;
end

fields = {'label'; 'lowCutoff'; 'highCutoff'; 'center'; 'centerOrder'; 'centerFlags'; ...
          'lowOrder'; 'lowFlags'; 'highOrder'; 'highFlags'; 'maxStages'; 'numStages'; 'sos'};
list = @(varargin) vt_output(2, @vornmex, 'filter', 'list', varargin{:});

%% Filter types
vt_equal(vornmex('filter', 'list', 5), {'lfp', 'spike'}, 'types: names lower-cased, cut before " Filter", sorted');
vt_equal({vornmex('filter', 'list', 999), vornmex('filter', 'list', 10241)}, {cell(1, 0), cell(1, 0)}, ...
         'an unknown electrode and an analog input have no types');

%% One type, all selections
[sel, info] = vornmex('filter', 'list', 5, 'Spike Filter');
vt_equal(sel, 2, 'the current selection counts from 1');
vt_equal(size(info), [4 1], 'one struct element per selection, as a column');
vt_equal(fieldnames(info), fields, 'the 13 fields in order');
vt_equal({info.label}, {'none', '250 Hz HP', '750 Hz HP', 'custom'}, 'labels in selection order');
vt_equal(info(1).sos, zeros(0, 6), 'no stages give a 0x6 sos');
vt_equal(struct2cell(info(2))', {'250 Hz HP', 250, 0, 0, 0, 0, 4, 0, 0, 0, 6, 2, ...
                                 [0.875 -1.75 0.875 1 -1.71875 0.75; 1 -2 1 1 -1.859375 0.875]}, ...
         'selection 2: frequencies, orders, flags, stages; sos rows are b0 b1 b0 1 a1 a2');
vt_equal({info}, {list(5, 'spike')}, '''spike'' names the same type as ''Spike Filter''');
vt_equal({info}, {list(5, 'SPIKE', 2, 'more')}, 'six or more arguments list every selection too');
vt_equal({info}, {list(5, 'Spike Filterxxxxxxx')}, 'a type name is cut to 15 characters');

%% One type, one selection
[sel, info] = vornmex('filter', 'list', 5, 'lfp', 3);
vt_equal({sel, size(info), info.label, info.highCutoff, info.sos}, {2, [1 1], '500 Hz LP', 500, ...
         [0.125 0.25 0.125 1 -1 0.375; 0.25 0.5 0.25 1 -0.75 0.25]}, 'the current selection; selection 3 of lfp, 1x1');

%% 'set': the cached combo box goes back with the new selection (0-based)
set_sent(@() vornmex('filter', 'set', 5, 'spike', 3), 38, 2, 101, [1 7 0 0 2 0 0 0 103 0 4 0 zeros(1, 128)], ...
         'set: 152 bytes to module 2, property 101, selection 2 (0-based)');
vt_wait(@() vornmex('filter', 'list', 1, 'spike') == 3, 10, ...
        'list reads the new selection back (for every electrode of the front end)');

%% 'custom': uploads into the last selection
sos = struct('label', 'my custom filter x', 'center', 1000.5, 'lowCutoff', 300, ...
             'highCutoff', 3000, 'centerOrder', 1, 'lowOrder', 258, 'highOrder', -1, ...
             'numStages', 2.9, 'sos', [1 2 3 4 5 6; 0.5 0.25 9 9 -0.5 0.125; 7 7 7 7 7 7], ...
             'centerFlags', 9, 'maxStages', 3);
set_sent(@() vornmex('filter', 'custom', 5, 'LFP Filter', sos), 51, 2, 118, ...
         custom_record(192, 'my custom filte', [1000.5 300 3000], [1 0 2 0 255 0 6 2], sos.sos(1:2, :)), ...
         'custom: a 192-byte record in a 51-word packet to the last lfp selection (property 118)');
vt_wait(@() strcmp(list(5, 'lfp', 4).label, 'my custom filte'), 10, 'list reads the upload back');
[sel, info] = vornmex('filter', 'list', 5, 'lfp', 4);
vt_equal(sel, 2, 'the upload does not change the current selection');
vt_equal(struct2cell(info)', {'my custom filte', 300, 3000, 1000.5, 1, 0, 2, 0, 255, 0, 6, 2, ...
                              [1 2 1 1 5 6; 0.5 0.25 0.5 1 -0.5 0.125]}, ...
         'read back: stages with columns 3 and 4 implied; orders keep their low 8 bits; flags 0; maxStages 6');
empty = with(sos, 'numStages', 0, 'sos', zeros(0, 6));
set_sent(@() vornmex('filter', 'custom', 130, 'spike', empty), 41, 10, 114, ...
         custom_record(152, 'my custom filte', [1000.5 300 3000], [1 0 2 0 255 0 6 0], zeros(0, 6)), ...
         'a filter without stages: a 152-byte record to the stim front end''s spike module');

%% Refusals
good = sos;
bad = @(varargin) @() vornmex('filter', 'custom', 5, 'lfp', with(good, varargin{:}));
refusals = {
  @() vornmex('filter'), 'usage: vornmex(''filter'', cmd (''list'', ''set'', ''custom'')', 'no subcommand'
  @() vornmex('filter', 5), 'invalid filter string', 'a subcommand that is no text'
  @() vornmex('filter', 'customcustomcust'), 'invalid filter string', 'a subcommand of 16 characters'
  @() vornmex('filter', 'List', 5), 'filter string must be ''set'', ''list'', or ''custom''', 'an unknown subcommand'
  @() vornmex('filter', 'list'), 'usage: vornmex(''filter'', ''list'', elec, [filter type [, select]])', 'list without elec'
  @() vornmex('filter', 'list', 'e'), 'elec must be an electrode number', 'an electrode that is no number'
  @() vornmex('filter', 'list', 999, 'spike'), 'Invalid filter.', 'list: unknown electrode'
  @() vornmex('filter', 'list', 5, 'notch'), 'Invalid filter.', 'list: unknown type'
  @() vornmex('filter', 'list', 5, 3), 'filter type must be a char array', 'list: a type that is no text'
  @() list(5, 'spike', 0), 'Invalid selection', 'list: selection 0'
  @() list(5, 'spike', 5), 'Invalid selection', 'list: selection above the count'
  @() vornmex('filter', 'set', 5, 'spike'), 'usage: vornmex(''filter'', ''set'', elec, filter type, select)', 'set without select'
  @() vornmex('filter', 'set', 999, 'spike', 1), 'Invalid filter.', 'set: unknown electrode'
  @() vornmex('filter', 'set', 5, 'notch', 1), 'Invalid filter.', 'set: unknown type'
  @() vornmex('filter', 'set', 5, 'spike', 0), 'Invalid filter selection.', 'set: selection 0'
  @() vornmex('filter', 'set', 5, 'spike', 5), 'Invalid filter selection.', 'set: selection above the count'
  @() vornmex('filter', 'set', 5, 'spike', NaN), 'Invalid filter selection.', 'set: selection NaN'
  @() vornmex('filter', 'custom', 5, 'lfp'), 'usage: vornmex(''filter'', ''custom'', elec, filter type, sos_struct)', 'custom without struct'
  @() vornmex('filter', 'custom', 5, 'lfp', 5), 'invalid sos struct', 'custom: no struct'
  @() vornmex('filter', 'custom', 5, 'lfp', struct([])), 'invalid sos struct', 'custom: an empty struct array'
  @() vornmex('filter', 'custom', 5, 7, good), 'filter type must be a char array', 'custom: a type that is no text'
  @() vornmex('filter', 'custom', 999, 'lfp', good), 'Invalid filter.', 'custom: unknown electrode'
  @() vornmex('filter', 'custom', 5, 'notch', good), 'Invalid filter.', 'custom: unknown type'
  bad('label', 5), 'invalid sos struct: label must be a char array', 'custom: a label that is no text'
  bad('center', 'x'), 'invalid sos struct: center must be a number', 'custom: a center that is no number'
  bad('lowOrder', NaN), 'invalid sos struct: lowOrder out of range', 'custom: an order NaN'
  bad('numStages', -1), 'invalid sos struct: numStages must be 0 to 255', 'custom: negative numStages'
  bad('numStages', 256, 'sos', zeros(300, 6)), 'invalid sos struct: numStages must be 0 to 255', 'custom: numStages above 255'
  bad('numStages', 4), 'invalid sos struct: numStages (4) is larger than the rows of sos (3)', 'custom: more stages than rows'
  bad('numStages', 43, 'sos', zeros(43, 6)), 'invalid sos struct: at most 42 stages fit in one packet', 'custom: more stages than one packet holds'
  bad('sos', ones(3, 5)), 'invalid sos struct: sos must have 6 columns', 'custom: a sos of 5 columns'
  bad('sos', int32(ones(3, 6))), 'invalid sos struct: sos must be a real double matrix', 'custom: an int32 sos'
  bad('numStages', 3, 'sos', sparse(3000, 6)), 'invalid sos struct: sos must be a real double matrix', 'custom: a sparse sos (holds no full matrix)'};
for f = {'label', 'center', 'lowCutoff', 'highCutoff', 'centerOrder', 'lowOrder', 'highOrder', 'numStages', 'sos'}
  refusals(end + 1, :) = {@() vornmex('filter', 'custom', 5, 'lfp', rmfield(good, f{1})), ...
                          ['invalid sos struct: ' f{1}], ['custom: no field ' f{1}]};
end
vt_refused('''filter'' refusals', refusals);
vt_done();
