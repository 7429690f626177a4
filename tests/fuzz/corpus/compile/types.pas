interface
const pi2 = 6.28; name = 'corvane';
function main: string;
implementation
function main: string;
var d: date; b: boolean; w: word; c: char; f: double; v: any;
begin
  d := now; b := (w > 3) and not (c = 'a'); f := pi2 / 2; v := iff(b, 1, 'x');
  result := name + formatdatetime('yyyy-mm-dd', d) + floattostr(f);
  if result like 'c%' then result := copy(result, 1, 3) + inttostr(pos('a', result));
end;
end.
