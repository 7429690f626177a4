interface
var total: integer;
function main(n: integer): integer;
function fact(k: integer): integer;
implementation
function fact(k: integer): integer;
begin
  if k <= 1 then result := 1 else result := k * fact(k - 1);
end;
function main(n: integer): integer;
var i: integer; s: string; a: array[5] of integer;
begin
  s := 'abc';
  for i := 1 to n do
  begin
    if i mod 2 = 0 then continue;
    total := total + i;
    if total > 100 then break;
  end;
  case n of
    1..3: result := 1;
    4: result := 2;
  else
    result := fact(n);
  end;
  repeat n := n - 1; until n < 0;
  while n < 3 do n := n + 1;
  a[0] := length(s);
  s[1] := 'x';
  result := result + a[0];
end;
end.
